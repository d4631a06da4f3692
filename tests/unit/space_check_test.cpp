// The space check on real filesystems: each case runs in a child process with
// a private mount namespace holding small tmpfs filesystems, where every other
// mount is detached or read-only so that the search can only find the case's own.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/container.h"
#include "driver/settings.h"
#include "space/fsinfo.h"
#include "space/mnttab.h"
#include "space/space_check.h"
#include "test_support.h"

using namespace sxpak;

namespace {

constexpr int required_mb = 4;
constexpr int exit_skip = 77;
constexpr int exit_setup_failed = 78;

struct Tmpfs {
    std::string name;       // under the case's area
    const char* size;       // 1m is full for required_mb, 8m has room
    bool readonly = false;
};

struct Scenario {
    std::vector<Tmpfs> mounts;
    bool isolated = true;                              // false: no namespace, no mounts
    std::string features;                              // the FeatureList; empty: no check
    std::string temp_path;
    int verbose = 0;
    std::string input;                                 // standard input
    std::string cwd;                                   // relative to the area
    std::function<void(const std::string& area)> prepare;
    std::vector<std::string> inspect;                  // paths under the area to describe afterwards
    std::function<std::string(const std::string& area)> probe;   // more facts, in the child
};

struct Outcome {
    bool skipped = false;
    std::string setup_error;
    int result = 0;
    std::string link;
    std::string messages;   // standard error
    std::string facts;
};

std::string read_text(const std::string& path) {
    auto bytes = test_support::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

void write_fd(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// "missing", "file", "link -> TARGET" or "dir MODE [NAMES]".
std::string describe(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return "missing";
    if (S_ISLNK(info.st_mode)) {
        char target[1024];
        ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        return "link -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    }
    if (!S_ISDIR(info.st_mode)) return "file";
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    std::string text = std::string("dir ") + mode + " [";
    for (size_t i = 0; i < names.size(); ++i) text += (i ? " " : "") + names[i];
    return text + "]";
}

bool is_ancestor_or_same(const std::string& mount, const std::string& path) {
    if (mount == "/" || mount == path) return true;
    return path.compare(0, mount.size(), mount) == 0 && path.size() > mount.size() && path[mount.size()] == '/';
}

[[noreturn]] void child_fail(int report_fd, int code, const std::string& what) {
    write_fd(report_fd, what);
    _exit(code);
}

// Leaves the area's own tmpfs filesystems as the only writable mounts with room.
void isolate(const Scenario& s, const std::string& area, int report_fd) {
    if (unshare(CLONE_NEWNS) != 0)
        child_fail(report_fd, exit_skip, std::string("cannot make a mount namespace: ") + strerror(errno));
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        child_fail(report_fd, exit_skip, std::string("cannot make mounts private: ") + strerror(errno));

    const MountInfo* table = nullptr;
    int count = mount_table_get(&table, mount_nowait);
    std::vector<std::string> points;
    for (int i = 0; i < count; ++i) points.emplace_back(table[i].mntonname);
    // Last first, so that mounts go before those they sit on.
    for (auto it = points.rbegin(); it != points.rend(); ++it) {
        if (*it == "/proc") continue;   // the table itself; it never has room
        if (is_ancestor_or_same(*it, area))
            mount(nullptr, it->c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
        else
            umount2(it->c_str(), MNT_DETACH);
    }

    for (const Tmpfs& t : s.mounts) {
        std::string point = area + "/" + t.name;
        std::string options = std::string("size=") + t.size + ",mode=0755";
        if (mount("tmpfs", point.c_str(), "tmpfs", 0, options.c_str()) != 0)
            child_fail(report_fd, exit_setup_failed, "mount " + point + ": " + strerror(errno));
        if (t.readonly && mount(nullptr, point.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            child_fail(report_fd, exit_setup_failed, "read-only remount " + point + ": " + strerror(errno));
    }

    count = mount_table_get(&table, mount_nowait);
    for (int i = 0; i < count; ++i) {
        std::string point = table[i].mntonname;
        if (point.compare(0, area.size() + 1, area + "/") == 0) continue;
        if ((table[i].flags & mount_flag_rdonly) == 0 && fsinfo_mbfree(point.c_str(), required_mb, nullptr, nullptr) == 1)
            child_fail(report_fd, exit_setup_failed, "a writable mount with room remains: " + point);
    }
}

class SpaceCheck : public ::testing::Test {
protected:
    void SetUp() override {
        area = test_support::temp_dir();
        io = test_support::temp_dir();
    }

    Outcome run(const Scenario& s) {
        for (const Tmpfs& t : s.mounts) mkdir((area + "/" + t.name).c_str(), 0755);
        test_support::write_file(io + "/stdin", s.input);
        fflush(nullptr);

        pid_t pid = fork();
        if (pid == 0) {
            // Opened before the namespace exists, so the read-only remounts
            // inside it do not touch these files.
            int in = open((io + "/stdin").c_str(), O_RDONLY);
            int err = open((io + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int report = open((io + "/report").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || err < 0 || report < 0) _exit(exit_setup_failed);
            if (s.isolated) isolate(s, area, report);
            if (!s.cwd.empty() && chdir((area + "/" + s.cwd).c_str()) != 0)
                child_fail(report, exit_setup_failed, "chdir");
            if (s.prepare) s.prepare(area);

            std::string text;
            if (!s.features.empty()) {
                snprintf(archive_header.feature_list, sizeof archive_header.feature_list, "%s", s.features.c_str());
                snprintf(settings.temp_path, sizeof settings.temp_path, "%s", s.temp_path.c_str());
                settings.verbose_output = s.verbose;
                dup2(in, 0);
                dup2(err, 2);
                char link[link_path_size];
                memset(link, 'x', sizeof link);
                int result = verify_fs_space(required_mb, link);
                fflush(stderr);
                text = std::to_string(result) + "\n" + link + "\n";
            } else {
                text = "0\n\n";
            }
            for (const std::string& path : s.inspect) text += path + ": " + describe(area + "/" + path) + "\n";
            if (s.probe) text += s.probe(area);
            write_fd(report, text);
            _exit(0);
        }

        Outcome out;
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
            out.setup_error = "the child did not finish";
            return out;
        }
        std::string report = read_text(io + "/report");
        if (WEXITSTATUS(status) == exit_skip) {
            out.skipped = true;
            out.setup_error = report;
            return out;
        }
        if (WEXITSTATUS(status) != 0) {
            out.setup_error = "setup failed: " + report;
            return out;
        }
        size_t first = report.find('\n');
        size_t second = report.find('\n', first + 1);
        out.result = std::stoi(report.substr(0, first));
        out.link = report.substr(first + 1, second - first - 1);
        out.facts = report.substr(second + 1);
        out.messages = read_text(io + "/stderr");
        return out;
    }

    std::string features(const std::string& vfyfs, const std::string& fssub = "pkg") {
        return "NAME=demo,VFYFS=" + vfyfs + ",FSSUB=" + fssub + ",NOCOMPR";
    }

    std::string no_space(const std::string& extraction_dir, const std::string& vfyfs, const std::string& fssub = "pkg") {
        return extraction_dir + ": not enough space to extract the archive.\n"
               "Please make at least " + std::to_string(required_mb) + "Mb available in " + vfyfs + ".\n"
               "Alternatively, you can make space available on another filesystem where a\n"
               "\"" + fssub + "\" directory can be created. Ensure that the \"" + fssub + "\" directory\n"
               "does not exist before trying again.\n";
    }

    std::string searching() {
        return area + "/vfy/pkg: not enough space. Looking for space in other filesystems.\n";
    }

    std::string area, io;
};

#define RUN_OR_SKIP(out, scenario)                                 \
    Outcome out = run(scenario);                                   \
    if (out.skipped) GTEST_SKIP() << out.setup_error;              \
    ASSERT_EQ(out.setup_error, "")

TEST_F(SpaceCheck, RoomInPlaceCreatesNothing) {
    Scenario s;
    s.mounts = {{"vfy", "8m"}, {"other", "8m"}};
    s.features = features(area + "/vfy");
    s.inspect = {"vfy", "other"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.link, "");
    EXPECT_EQ(out.messages, "");
    EXPECT_EQ(out.facts, "vfy: dir 0755 []\nother: dir 0755 []\n");
}

TEST_F(SpaceCheck, TempPathWithRoomGetsTheDirectoryAndTheLink) {
    Scenario s;
    s.mounts = {{"vfy", "1m"}, {"tmp", "8m"}};
    s.features = features(area + "/vfy");
    s.temp_path = area + "/tmp/";
    s.prepare = [](const std::string&) { umask(077); };
    s.inspect = {"vfy/pkg", "tmp/pkg"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.link, area + "/vfy/pkg");
    EXPECT_EQ(out.messages, "");
    EXPECT_EQ(out.facts, "vfy/pkg: link -> " + area + "/tmp/pkg\ntmp/pkg: dir 0755 []\n");
}

TEST_F(SpaceCheck, TempPathWithoutRoom) {
    // VFYFS with room: extract in place.
    Scenario s;
    s.mounts = {{"vfy", "8m"}, {"tmp", "1m"}};
    s.features = features(area + "/vfy");
    s.temp_path = area + "/tmp";
    s.inspect = {"vfy", "tmp"};
    {
        RUN_OR_SKIP(out, s);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.link, "");
        EXPECT_EQ(out.messages, "");
        EXPECT_EQ(out.facts, "vfy: dir 0755 []\ntmp: dir 0755 []\n");
    }
    // VFYFS full too: refused, and no other filesystem is searched.
    s.mounts = {{"vfy", "1m"}, {"tmp", "1m"}, {"other", "8m"}};
    s.inspect = {"vfy", "tmp", "other"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, -1);
    EXPECT_EQ(out.messages, no_space(area + "/tmp/pkg", area + "/vfy"));
    EXPECT_EQ(out.facts, "vfy: dir 0755 []\ntmp: dir 0755 []\nother: dir 0755 []\n");
}

TEST_F(SpaceCheck, SearchPassesOverReadOnlyFullAndTakenFilesystems) {
    Scenario s;
    s.mounts = {{"vfy", "1m"}, {"readonly", "64m", true}, {"small", "2m"}, {"taken", "8m"}, {"other fs", "8m"}, {"spare", "8m"}};
    s.features = features(area + "/vfy");
    s.prepare = [](const std::string& area) { mkdir((area + "/taken/pkg").c_str(), 0700); };
    s.inspect = {"vfy", "vfy/pkg", "other fs/pkg", "spare"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.link, area + "/vfy/pkg");
    EXPECT_EQ(out.messages, searching() +
                                "Trying " + area + "/taken ...\n" +
                                area + "/taken/pkg: already exists.\n"
                                "Trying " + area + "/other fs ...\n");
    EXPECT_EQ(out.facts, "vfy: dir 0755 [pkg]\n"
                         "vfy/pkg: link -> " + area + "/other fs/pkg\n"
                         "other fs/pkg: dir 0755 []\n"
                         "spare: dir 0755 []\n");
}

TEST_F(SpaceCheck, VerboseQuestion) {
    struct Case {
        const char* input;
        const char* chosen;
    };
    const Case cases[] = {
        {"n\n\n", "second"},   // declined, then an empty answer accepts
        {"No\n", "second"},    // declined, then the end of input accepts
        {"\n", "first"},
        {"yes\n", "first"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        SetUp();
        Scenario s;
        s.mounts = {{"vfy", "1m"}, {"first", "8m"}, {"second", "8m"}};
        s.features = features(area + "/vfy");
        s.verbose = 1;
        s.input = c.input;
        s.inspect = {"vfy/pkg", "first", "second"};
        RUN_OR_SKIP(out, s);

        std::string expected = searching();
        for (const char* fs : {"first", "second"}) {
            std::string candidate = area + "/" + fs + "/pkg";
            expected += "Trying " + area + "/" + fs + " ...\n"
                        "Creating temporary link to " + candidate + "\n"
                        "OK to create temporary link? [y]: ";
            if (std::string(fs) == c.chosen) break;
        }
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.link, area + "/vfy/pkg");
        EXPECT_EQ(out.messages, expected);
        bool first = std::string(c.chosen) == "first";
        EXPECT_EQ(out.facts, "vfy/pkg: link -> " + area + "/" + c.chosen + "/pkg\n" +
                                 "first: dir 0755 [" + (first ? "pkg" : "") + "]\n" +
                                 "second: dir 0755 [" + (first ? "" : "pkg") + "]\n");
    }
}

TEST_F(SpaceCheck, NothingFound) {
    Scenario s;
    s.mounts = {{"vfy", "1m"}, {"readonly", "64m", true}, {"small", "2m"}};
    s.features = features(area + "/vfy");
    s.inspect = {"vfy", "small"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, -1);
    EXPECT_EQ(out.messages, searching() + no_space(area + "/vfy/pkg", area + "/vfy"));
    EXPECT_EQ(out.facts, "vfy: dir 0755 []\nsmall: dir 0755 []\n");
}

TEST_F(SpaceCheck, FailedLinkRemovesItsDirectoryAndSearchesOn) {
    // The link's parent directory is missing, so no link can be made anywhere.
    Scenario s;
    s.mounts = {{"vfy", "1m"}, {"other", "8m"}};
    s.features = features(area + "/vfy", "sub/pkg");
    s.inspect = {"vfy", "other/sub"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, -1);
    EXPECT_EQ(out.messages, area + "/vfy/sub/pkg: not enough space. Looking for space in other filesystems.\n"
                                "Trying " + area + "/other ...\n" +
                                area + "/other/sub/pkg: No such file or directory\n" +
                                no_space(area + "/vfy/sub/pkg", area + "/vfy", "sub/pkg"));
    EXPECT_EQ(out.facts, "vfy: dir 0755 []\nother/sub: dir 0755 []\n");
}

TEST_F(SpaceCheck, RelativeVfyfsLinksRelativeToTheCurrentDirectory) {
    Scenario s;
    s.mounts = {{"vfy", "1m"}, {"other", "8m"}};
    s.features = features("vfy");
    s.cwd = ".";
    s.inspect = {"vfy/pkg"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.link, "vfy/pkg");
    EXPECT_EQ(out.messages, searching() + "Trying " + area + "/other ...\n");
    EXPECT_EQ(out.facts, "vfy/pkg: link -> " + area + "/other/pkg\n");
}

TEST_F(SpaceCheck, ExtractionDirectoryPresent) {
    Scenario s;
    s.mounts = {{"vfy", "1m"}, {"other", "8m"}};
    s.features = features(area + "/vfy");
    s.prepare = [](const std::string& area) { mkdir((area + "/vfy/pkg").c_str(), 0700); };
    s.inspect = {"vfy", "other"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, -1);
    EXPECT_EQ(out.messages,
              area + "/vfy/pkg: extraction directory exists!\nPlease remove it first then try again.\n");
    EXPECT_EQ(out.facts, "vfy: dir 0755 [pkg]\nother: dir 0755 []\n");
}

TEST_F(SpaceCheck, WithTempPathOnlyASymbolicLinkAtTheLinkPathIsReplaced) {
    // An installation at the link path is refused and left whole.
    Scenario s;
    s.mounts = {{"vfy", "1m"}, {"tmp", "8m"}};
    s.features = features(area + "/vfy");
    s.temp_path = area + "/tmp";
    s.prepare = [](const std::string& area) {
        mkdir((area + "/vfy/pkg").c_str(), 0755);
        test_support::write_file(area + "/vfy/pkg/installed", "data");
    };
    s.inspect = {"vfy/pkg", "tmp"};
    {
        RUN_OR_SKIP(out, s);
        EXPECT_EQ(out.result, -1);
        EXPECT_EQ(out.messages,
                  area + "/vfy/pkg: extraction directory exists!\nPlease remove it first then try again.\n");
        EXPECT_EQ(out.facts, "vfy/pkg: dir 0755 [installed]\ntmp: dir 0755 []\n");
    }
    // So is a plain file.
    s.prepare = [](const std::string& area) { test_support::write_file(area + "/vfy/pkg", "data"); };
    {
        RUN_OR_SKIP(out, s);
        EXPECT_EQ(out.result, -1);
        EXPECT_EQ(out.facts, "vfy/pkg: file\ntmp: dir 0755 []\n");
    }
    // A stale link from an earlier run gives way to the new one.
    s.prepare = [](const std::string& area) {
        if (symlink("/nonexistent/earlier-run", (area + "/vfy/pkg").c_str()) != 0) _exit(exit_setup_failed);
    };
    s.inspect = {"vfy/pkg", "tmp/pkg"};
    RUN_OR_SKIP(out, s);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.link, area + "/vfy/pkg");
    EXPECT_EQ(out.messages, "");
    EXPECT_EQ(out.facts, "vfy/pkg: link -> " + area + "/tmp/pkg\ntmp/pkg: dir 0755 []\n");
}

TEST_F(SpaceCheck, RefusedSilentlyWithoutUsableFeatures) {
    const char* cases[] = {
        "NAME=demo",                   // no VFYFS
        "VFYFS=/tmp",                  // no FSSUB
        "VFYFS=/tmp,FSSUB=",           // empty FSSUB
        "VFYFS=/tmp,FSSUB=p",          // one character
        "VFYFS=/,FSSUB=pkg",           // the root
        "FSSUB=pkg,VFYFS=",
    };
    for (const char* features : cases) {
        SCOPED_TRACE(features);
        Scenario s;
        s.isolated = false;
        s.features = features;
        RUN_OR_SKIP(out, s);
        EXPECT_EQ(out.result, -1);
        EXPECT_EQ(out.link, "");
        EXPECT_EQ(out.messages, "");
    }
}

TEST_F(SpaceCheck, PathsThatDoNotFitAreRefused) {
    // A working directory of about 400 characters, and one beyond 511.
    std::string deep = area, deeper;
    while (deep.size() < 400) deep += "/" + std::string(60, 'd');
    for (deeper = deep; deeper.size() < 600;) deeper += "/" + std::string(60, 'e');
    ASSERT_EQ(system(("mkdir -p '" + deeper + "' '" + area + "/gone'").c_str()), 0);
    struct Case {
        std::string features;
        std::string temp_path;
        std::string cwd;
        std::string message;   // empty: any one line naming a path too long
    };
    const Case cases[] = {
        {"VFYFS=/" + std::string(300, 'v') + ",FSSUB=pkg", "", "", ""},
        {"VFYFS=/tmp,FSSUB=" + std::string(300, 's'), "", "", ""},
        {"VFYFS=/tmp,FSSUB=" + std::string(255, 's'), "/" + std::string(300, 't'), "", ""},
        {"VFYFS=" + std::string(200, 'v') + ",FSSUB=pkg", "", deep, ""},
        {"VFYFS=vfy,FSSUB=pkg", "", deeper, "getcwd: File name too long\n"},
        {"VFYFS=vfy,FSSUB=pkg", "", area + "/gone", "getcwd: No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.features.substr(0, 40) + " " + c.temp_path.substr(0, 10) + " " + c.cwd);
        Scenario s;
        s.isolated = false;
        s.features = c.features;
        s.temp_path = c.temp_path;
        s.prepare = [&c](const std::string& area) {
            if (!c.cwd.empty() && chdir(c.cwd.c_str()) != 0) _exit(exit_setup_failed);
            if (c.cwd == area + "/gone" && rmdir(c.cwd.c_str()) != 0) _exit(exit_setup_failed);
        };
        RUN_OR_SKIP(out, s);
        EXPECT_EQ(out.result, -1);
        EXPECT_EQ(out.link, "");
        if (c.message.empty()) {
            EXPECT_NE(out.messages.find(": path too long\n"), std::string::npos) << out.messages;
            EXPECT_EQ(std::count(out.messages.begin(), out.messages.end(), '\n'), 1) << out.messages;
        } else {
            EXPECT_EQ(out.messages, c.message);
        }
    }
}

TEST_F(SpaceCheck, MountedFilesystemsAsTheSearchSeesThem) {
    Scenario s;
    s.mounts = {{"plain", "1m"}, {"read only", "8m", true}};
    s.probe = [](const std::string& area) {
        std::string facts;
        for (const MountEntry* e = mnttab_next(); e != nullptr; e = mnttab_next()) {
            std::string point = e->mountpoint;
            if (point.compare(0, area.size(), area) != 0) continue;
            int same = -1, free_mb = -1;
            int enough = fsinfo_mbfree(e->mountpoint, 1, &same, &free_mb);
            facts += point.substr(area.size()) + " " + e->source + " " + e->fstype + " ro=" +
                     std::to_string(e->readonly) + " free=" + std::to_string(free_mb) +
                     " enough=" + std::to_string(enough) + " root=" + std::to_string(same) +
                     " writable=" + std::to_string(fsinfo_writable(e->mountpoint)) + "\n";
        }
        return facts;
    };
    RUN_OR_SKIP(out, s);
    // 16914836 is the tmpfs type number.
    EXPECT_EQ(out.facts, "/plain tmpfs 16914836 ro=0 free=1 enough=1 root=0 writable=1\n"
                         "/read only tmpfs 16914836 ro=1 free=8 enough=1 root=0 writable=0\n");
}

}  // namespace

TEST(MakePath, MakesEveryDirectoryWithTheModeWhateverTheMask) {
    std::string dir = test_support::temp_dir();
    mode_t old_mask = umask(077);
    std::string path = dir + "/a/b/c";
    EXPECT_EQ(make_path(path.c_str(), 0755), 0);
    for (const std::string& p : {dir + "/a", dir + "/a/b", dir + "/a/b/c"}) {
        struct stat info;
        ASSERT_EQ(stat(p.c_str(), &info), 0) << p;
        EXPECT_EQ(info.st_mode & 07777, 0755u) << p;
    }
    EXPECT_EQ(make_path(path.c_str(), 0755), 0) << "existing path";
    EXPECT_EQ(make_path((dir + "/a/b/c/").c_str(), 0700), 0) << "trailing slash";
    umask(old_mask);

    errno = 0;
    EXPECT_EQ(make_path("a/b", 0755), -1);
    EXPECT_EQ(errno, EINVAL);

    std::string limit = dir + "/";
    limit += std::string(255 - limit.size(), 'l');
    EXPECT_EQ(make_path(limit.c_str(), 0755), 0) << "255 characters fit";
    errno = 0;
    EXPECT_EQ(make_path((limit + "m").c_str(), 0755), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);

    test_support::write_file(dir + "/file", "x");
    EXPECT_EQ(make_path((dir + "/file/sub").c_str(), 0755), -1) << "a file in the way";
}
