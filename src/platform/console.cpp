#include "platform/console.h"

namespace lenticor {

StdioStreamBuf::int_type StdioStreamBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return std::fflush(stream_) == 0 ? traits_type::not_eof(c) : traits_type::eof();
    }
    return std::fputc(traits_type::to_int_type(traits_type::to_char_type(c)), stream_) == EOF
               ? traits_type::eof()
               : c;
}

std::streamsize StdioStreamBuf::xsputn(const char_type* text, std::streamsize count) {
    return static_cast<std::streamsize>(
        std::fwrite(text, 1, static_cast<std::size_t>(count), stream_));
}

int StdioStreamBuf::sync() {
    return std::fflush(stream_) == 0 ? 0 : -1;
}

StandardConsole::StandardConsole() {
    // Diagnostics appear as they are written, as std::cerr's do.
    err_.setf(std::ios_base::unitbuf);
}

}  // namespace lenticor
