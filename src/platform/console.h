#pragma once
// Port: the process's standard streams. The result line goes to Out(), the
// diagnostics (UTF-8) to Err(). Tests substitute string streams.

#include <iosfwd>

namespace lenticor {

class Console {
  public:
    virtual ~Console() = default;
    virtual std::ostream& Out() = 0;
    virtual std::ostream& Err() = 0;
};

// std::cout and std::cerr, left in whatever mode the C runtime
// gave them (the program never changes the translation mode or code page).
class StandardConsole final : public Console {
  public:
    std::ostream& Out() override;
    std::ostream& Err() override;
};

}  // namespace lenticor
