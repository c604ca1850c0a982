#pragma once
// The machines the engine tests start from: an office desk with one Nimbo
// beside the primary display, and the states a detach leaves it in.

#include <string>

#include "desktop/desktop_fake.h"

namespace nimbo::test {

Monitor Primary();       // 1920x1080 at the origin
Monitor OwnNimbo();      // the Nimbo right of it
Monitor OtherNimbo();    // a different Nimbo plugged in later
std::wstring NimboId();  // display ID of OwnNimbo

DesktopRequest Request(DesktopAction action, std::wstring displayId = L"", std::string token = "");

FakeDesktop Office();          // no journal, the Nimbo on the desktop
FakeDesktop Detached();        // after a successful detach
FakeDesktop Reenabled();       // detached, then switched back on by the user
FakeDesktop Unplugged();       // detached, then unplugged
FakeDesktop Replaced();        // unplugged, another Nimbo active in its place
FakeDesktop NimboAlone();      // owned Nimbo back on as the only active display
FakeDesktop CorruptJournal();  // Office with a journal file that is not accepted

}  // namespace nimbo::test
