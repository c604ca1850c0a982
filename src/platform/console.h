#pragma once
// Port: the process's standard streams. The result line goes to Out(), the
// diagnostics (UTF-8) to Err(). Tests substitute string streams.

#include <cstdio>
#include <ostream>
#include <streambuf>

namespace lenticor {

class Console {
  public:
    virtual ~Console() = default;
    virtual std::ostream& Out() = 0;
    virtual std::ostream& Err() = 0;
};

// Every character straight to a C stream, as std::cout does while it is
// synchronised with stdio: the C runtime keeps the buffering and the text
// mode it gave the stream (the program never changes the translation mode or
// code page). Not std::cout itself: its start-up object brings the whole
// iostream library, a tenth of the executable, for streams we never read.
class StdioStreamBuf final : public std::streambuf {
  public:
    explicit StdioStreamBuf(std::FILE* stream) : stream_(stream) {}

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char_type* text, std::streamsize count) override;
    int sync() override;

  private:
    std::FILE* stream_;
};

// Standard output and standard error.
class StandardConsole final : public Console {
  public:
    StandardConsole();
    std::ostream& Out() override { return out_; }
    std::ostream& Err() override { return err_; }

  private:
    StdioStreamBuf outBuffer_{stdout};
    StdioStreamBuf errBuffer_{stderr};
    std::ostream out_{&outBuffer_};
    std::ostream err_{&errBuffer_};
};

}  // namespace lenticor
