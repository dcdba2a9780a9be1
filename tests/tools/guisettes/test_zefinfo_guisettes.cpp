// zefinfo --guisettes lists the whole catalogue, one preset a line, with
// the PCM effect that each applies while decoding.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "guisette.h"

namespace {

std::vector<std::string> run(const std::string& args, int* status) {
    std::string command = std::string("'") + ZEFINFO + "' " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    int raw = pipe ? pclose(pipe) : -1;
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(ZefInfoGuisettes, ListsTheCatalogue) {
    int status = -1;
    std::vector<std::string> lines = run("--guisettes", &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 1u + zef::kBuiltInGuisetteCount);
    EXPECT_EQ(lines[0].rfind("number", 0), 0u) << lines[0];
    for (unsigned i = 0; i < zef::kBuiltInGuisetteCount; ++i) {
        const zef::GuisetteRecord& g = zef::gBuiltInGuisettes[i];
        std::istringstream row(lines[i + 1]);
        unsigned number = 0;
        row >> number;
        EXPECT_EQ(number, g.guisetteId) << lines[i + 1];
        const std::string effect = g.pcmEffect ? "  " + std::to_string(g.pcmEffect) + " " : "  none ";
        EXPECT_NE(lines[i + 1].find(effect), std::string::npos) << lines[i + 1];
        EXPECT_NE(lines[i + 1].find(g.presetName), std::string::npos) << lines[i + 1];
        EXPECT_NE(lines[i + 1].find(g.description), std::string::npos) << lines[i + 1];
    }
}

}  // namespace
