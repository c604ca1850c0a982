#include "app/protocol_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "app/result_line.h"

namespace lenticor::test {

std::string ResultLineOf(const char* tag, const nlohmann::json& document) {
    return tag + SerializeResult(document, Utf8Handling::Replace);
}

std::vector<std::string> ProtocolProblems(const std::vector<std::string>& lines) {
    // A file keeps the lines' bytes away from any shell quoting.
    const std::string path = ::testing::TempDir() + "lenticor_protocol_lines.txt";
    {
        std::ofstream file(path, std::ios::binary);
        for (const auto& line : lines)
            file << line << '\n';
    }
    const std::string command = std::string("'") + LENTICOR_PYTHON + "' '" +
                                LENTICOR_RESULT_SCHEMA + "' --check '" + path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        throw std::runtime_error("cannot start " + command);
    std::vector<std::string> verdicts(1);
    for (int c; (c = std::fgetc(pipe.get())) != EOF;) {
        if (c == '\n')
            verdicts.emplace_back();
        else
            verdicts.back().push_back(static_cast<char>(c));
    }
    if (pclose(pipe.release()) != 0 || verdicts.size() != lines.size() + 1)
        throw std::runtime_error(command + " gave no verdict per line");
    verdicts.pop_back();
    for (auto& verdict : verdicts)
        if (verdict == "ok")
            verdict.clear();
    return verdicts;
}

}  // namespace lenticor::test
