// Whether the user the service runs as can read the configuration: told by trying it as that
// user, and said by the check, run as root, where root itself reads everything.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/folder.h"
#include "tools/check/checker.h"
#include "tools/check/service_user.h"

namespace {

namespace fs = std::filesystem;

// A well-formed configuration in a fresh folder of mode 0755.
class ConfigFolder : public testsupport::Folder {
  public:
    ConfigFolder() {
        fs::permissions(path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
        std::ofstream out(file(), std::ios::binary);
        for (int line = 1; line <= 36; ++line)
            out << (line == 2 ? "127.0.0.1" : line == 5 ? "29999" : "") << "\n";
    }
    std::string file() const { return *this / "my cfg;x.travo"; }
};

#ifdef __linux__
// As root, with an unprivileged user that exists everywhere: the mode of the file and of its
// folder decide, as they would for the service.
TEST(ServiceUser, TriedAsTheUserWithItsGroups) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can try another user's access";
    ConfigFolder dir;
    const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write |
                               fs::perms::group_read | fs::perms::others_read;
    fs::permissions(dir.file(), readable);
    EXPECT_EQ(travo_check::user_can_read(dir.file(), "nobody"), std::optional<bool>(true));
    fs::permissions(dir.file(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(travo_check::user_can_read(dir.file(), "nobody"), std::optional<bool>(false));
    fs::permissions(dir.file(), readable);
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_EQ(travo_check::user_can_read(dir.file(), "nobody"), std::optional<bool>(false));
    EXPECT_EQ(travo_check::user_can_read(dir.file(), "no-such-user-here"), std::nullopt);
}
#endif

TEST(ServiceUser, TheCheckSaysWhetherTheServiceCanReadTheFile) {
    ConfigFolder dir;
    const struct {
        std::optional<bool> reads;
        int exit_code;
        const char* says;
    } cases[] = {
        {false, 1,
         "  file: the user travo, which the service runs as, cannot read this file, so travo "
         "started by the service would run with every value empty"},
        {false, 1, "(chown root:travo '"},
        {true, 0, "The user travo, which the service runs as, can read this file.\nNo problems"},
        {std::nullopt, 0, "\n\nNo problems found."},
    };
    for (const auto& c : cases) {
        travo_check::Options options;
        std::string asked;
        options.service_user_reads = [&](const std::string& path) {
            asked = path;
            return c.reads;
        };
        const travo_check::Report report = travo_check::check_file(dir.file(), options);
        EXPECT_EQ(asked, dir.file());
        EXPECT_EQ(report.exit_code, c.exit_code) << report.text;
        EXPECT_NE(report.text.find(c.says), std::string::npos) << report.text;
    }
}

}  // namespace
