#include "desktop/desktop_scenarios.h"

#include <stdexcept>

namespace nimbo::test {

Monitor Primary() {
    return OtherAt(1, 0, 0);
}
Monitor OwnNimbo() {
    return NimboAt(2, 1, 1920);
}
Monitor OtherNimbo() {
    Monitor m = NimboAt(3, 1, 1920);
    m.driver = "0002";
    return m;
}
std::wstring NimboId() {
    return DisplayIdOf(OwnNimbo());
}

DesktopRequest Request(DesktopAction action, std::wstring displayId, std::string token) {
    return {action, std::move(displayId), L"C:\\data\\desktop.json", std::move(token)};
}

FakeDesktop Office() {
    return FakeDesktop({Primary(), OwnNimbo()});
}

FakeDesktop Detached() {
    FakeDesktop fake = Office();
    const DesktopResult result = fake.Run(Request(DesktopAction::Detach));
    if (!result.success || !fake.journal)
        throw std::logic_error("scenario detach failed");
    fake.saves = 0;
    return fake;
}

FakeDesktop Reenabled() {
    FakeDesktop fake = Detached();
    fake.Find(kNimboModel, 2).active = true;
    return fake;
}

FakeDesktop Unplugged() {
    FakeDesktop fake = Detached();
    fake.Find(kNimboModel, 2).available = false;
    return fake;
}

FakeDesktop Replaced() {
    FakeDesktop fake = Unplugged();
    fake.monitors.push_back(OtherNimbo());
    return fake;
}

FakeDesktop NimboAlone() {
    FakeDesktop fake = Detached();
    Monitor& nimbo = fake.Find(kNimboModel, 2);
    nimbo.active = true;
    nimbo.x = 0;
    fake.Find(kOtherModel, 1).active = false;
    return fake;
}

FakeDesktop CorruptJournal() {
    FakeDesktop fake = Office();
    fake.journal = "{\"version\":2}";
    return fake;
}

}  // namespace nimbo::test
