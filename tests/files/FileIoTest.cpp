// The replacing save under the ways a temporary file beside the target can fail: a folder
// that takes no new file, long names, names already taken, leftovers of killed saves, chains
// of links, and the durability of the rename.
#include "FilesTestSupport.h"

#include "files/ConfigurationFile.h"
#include "files/Export.h"
#include "files/FileIo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace filestest;
namespace fs = std::filesystem;

// Every fsync of the program's code passes through here (the test program is linked with
// --wrap=fsync), so the test sees which folders were synced.
namespace
{
std::set<std::pair<dev_t, ino_t>> g_syncedFolders;
}
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd)
{
    struct stat st {
    };
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        g_syncedFolders.insert({st.st_dev, st.st_ino});
    return __real_fsync(fd);
}

namespace
{

files::WriteStatus save(const std::string& path, const std::string& text)
{
    return files::writeFileReplacing(path, reinterpret_cast<const unsigned char*>(text.data()),
                                     text.size());
}

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void makeOld(const std::string& path)
{
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
}

// Runs `part` in a child process that cannot create files in a folder it does not own: as
// user nobody when this test runs as the super-user (who may create files anywhere), as
// itself otherwise. The child's exit status, or -1 with `reason` when that is not possible.
int runAsOrdinaryUser(int (*part)(const std::string&), const std::string& arg, std::string& reason)
{
    uid_t uid = 65534;
    gid_t gid = 65534;
    if (const passwd* pw = ::getpwnam("nobody")) {
        uid = pw->pw_uid;
        gid = pw->pw_gid;
    }
    const bool root = ::geteuid() == 0;
    const pid_t child = ::fork();
    if (child < 0) {
        reason = "fork failed";
        return -1;
    }
    if (child == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 ||
                     ::setresuid(uid, uid, uid) != 0))
            ::_exit(77);
        ::_exit(part(arg));
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        reason = "the child process did not finish";
        return -1;
    }
    if (WEXITSTATUS(status) == 77) {
        reason = "cannot change to user nobody (no CAP_SETUID in this container)";
        return -1;
    }
    return WEXITSTATUS(status);
}

// In the child: a writable file in a folder that refuses new files. Bit 0: the save failed;
// bit 1: the failed (short) write did not report WriteFailed.
int saveIntoReadOnlyFolder(const std::string& target)
{
    int result = 0;
    if (save(target, "new content, longer than the old one") != files::WriteStatus::Written)
        result |= 1;
    files::simulateShortWrite(5);
    if (save(target + "2", "this write comes short") != files::WriteStatus::WriteFailed)
        result |= 2;
    files::simulateShortWrite(-1);
    return result;
}

} // namespace

TEST_F(FilesTest, ReadOnlyFolderWithWritableFileIsWrittenInPlaceAndRestoredOnFailure)
{
    const std::string folder = path("ro");
    fs::create_directory(folder);
    writeText(folder + "/t.mes", "old");
    writeText(folder + "/t.mes2", "earlier content that must survive");
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(folder + "/t.mes", fs::perms::all & ~fs::perms::owner_exec &
                                           ~fs::perms::group_exec & ~fs::perms::others_exec);
    fs::permissions(folder + "/t.mes2", fs::perms::all & ~fs::perms::owner_exec &
                                            ~fs::perms::group_exec & ~fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    std::string reason;
    const int result = runAsOrdinaryUser(saveIntoReadOnlyFolder, folder + "/t.mes", reason);
    fs::permissions(folder, fs::perms::owner_all);
    if (result < 0)
        GTEST_SKIP() << reason;
    EXPECT_EQ(result & 1, 0) << "the save into the read-only folder failed";
    EXPECT_EQ(result & 2, 0) << "the short write was not reported";
    EXPECT_EQ(readText(folder + "/t.mes"), "new content, longer than the old one");
    EXPECT_EQ(readText(folder + "/t.mes2"), "earlier content that must survive");
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"t.mes", "t.mes2"}));
}

TEST_F(FilesTest, LongNamesAndTakenTemporaryNamesStillSave)
{
    // A 250-byte name: the temporary name must not grow with it past the 255-byte limit.
    const std::string longName = std::string(246, 'a') + ".mes";
    EXPECT_EQ(save(path(longName), "first"), files::WriteStatus::Written);
    EXPECT_EQ(save(path(longName), "second"), files::WriteStatus::Written);
    EXPECT_EQ(readText(path(longName)), "second");

    // Leftovers that carry names a save of this process could pick (the process id and a
    // counter): the save goes on under another name and leaves them alone, as they are new
    // and may belong to a save that is still running.
    writeText(path("t.mes"), "old");
    for (int n = 0; n < 64; ++n)
        writeText(path("t.mes.~orvo" + std::to_string(::getpid()) + "-" + std::to_string(n)), "x");
    ASSERT_EQ(save(path("t.mes"), "new"), files::WriteStatus::Written);
    EXPECT_EQ(readText(path("t.mes")), "new");
    EXPECT_EQ(namesIn(dir).size(), 1u + 1u + 64u);
}

TEST_F(FilesTest, StaleTemporaryFilesOfTheTargetAreRemoved)
{
    writeText(path("t.mes"), "old");
    const std::string ours = files::temporaryNamePrefix("t.mes") + "0123abcd.tmp";
    const std::string earlierVersion = "t.mes.~orvo4711-3";
    const std::string recent = files::temporaryNamePrefix("t.mes") + "89abcdef.tmp";
    const std::string otherTarget = files::temporaryNamePrefix("u.mes") + "0123abcd.tmp";
    const std::string notOurs = "t.mes.~orvo-notes";
    for (const std::string& name : {ours, earlierVersion, otherTarget, notOurs}) {
        writeText(path(name), "debris");
        makeOld(path(name));
    }
    writeText(path(recent), "a save still running");
    ASSERT_EQ(save(path("t.mes"), "new"), files::WriteStatus::Written);
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{otherTarget, recent, "t.mes", notOurs}))
        << "only the old leftovers of saves to t.mes go";

    // The temporary name is recognisable and short whatever the target's name is.
    EXPECT_EQ(files::temporaryNamePrefix(std::string(250, 'b')).substr(0, 6), ".~orvo");
    EXPECT_LT(files::temporaryNamePrefix(std::string(250, 'b')).size(), 20u);

    // A failed write leaves nothing behind either.
    files::simulateShortWrite(1);
    EXPECT_EQ(save(path("t.mes"), "newer"), files::WriteStatus::WriteFailed);
    files::simulateShortWrite(-1);
    EXPECT_EQ(readText(path("t.mes")), "new");
    EXPECT_EQ(namesIn(dir).size(), 4u);
}

TEST_F(FilesTest, ChainsOfLinksStayAndTheFileAtTheirEndIsReplaced)
{
    fs::create_directory(path("real"));
    writeText(path("real/t.mes"), "old");
    fs::create_symlink("real/t.mes", path("middle.mes"));
    fs::create_symlink(path("middle.mes"), path("first.mes"));
    ASSERT_EQ(save(path("first.mes"), "new"), files::WriteStatus::Written);
    EXPECT_TRUE(fs::is_symlink(path("first.mes")));
    EXPECT_TRUE(fs::is_symlink(path("middle.mes")));
    EXPECT_EQ(readText(path("real/t.mes")), "new");

    // A link to a file that does not exist yet creates it where the link points.
    fs::create_symlink("real/fresh.mes", path("dangling.mes"));
    ASSERT_EQ(save(path("dangling.mes"), "fresh"), files::WriteStatus::Written);
    EXPECT_TRUE(fs::is_symlink(path("dangling.mes")));
    EXPECT_EQ(readText(path("real/fresh.mes")), "fresh");

    // A loop of links names no file: nothing is written, no link is replaced.
    fs::create_symlink("loop-b.mes", path("loop-a.mes"));
    fs::create_symlink("loop-a.mes", path("loop-b.mes"));
    EXPECT_EQ(save(path("loop-a.mes"), "x"), files::WriteStatus::CannotCreate);
    EXPECT_TRUE(fs::is_symlink(path("loop-a.mes")));
    EXPECT_TRUE(fs::is_symlink(path("loop-b.mes")));
}

TEST_F(FilesTest, TheFolderIsSyncedAfterTheRename)
{
    fs::create_directory(path("sub"));
    struct stat st {
    };
    ASSERT_EQ(::stat(path("sub").c_str(), &st), 0);
    g_syncedFolders.clear();
    ASSERT_EQ(save(path("sub/t.mes"), "new"), files::WriteStatus::Written);
    EXPECT_EQ(g_syncedFolders.count({st.st_dev, st.st_ino}), 1u);
}

TEST_F(FilesTest, EverySaveThatWritesNothingIsReported)
{
    // Measurement file and export: message 27; configuration: message 117.
    EXPECT_EQ(files::writeMeasurementFile(path("nofolder/t.mes")),
              files::WriteStatus::CannotCreate);
    EXPECT_EQ(files::writeExportFile(files::ExportKind::Impedance, path("nofolder/t.imp")),
              files::WriteStatus::CannotCreate);
    EXPECT_EQ(files::writeConfigurationFile(path("nofolder/t.cfg")),
              files::WriteStatus::CannotCreate);
    // Each message names the file and the reason.
    const std::vector<std::string> log = messageLog();
    ASSERT_EQ(log.size(), 3u);
    const std::string why = " (die Datei oder der Ordner existiert nicht)|";
    EXPECT_EQ(log[0], "„" + path("nofolder/t.mes") + "“" + why + "Fehler beim Speichern der Datei");
    EXPECT_EQ(log[1], "„" + path("nofolder/t.imp") + "“" + why + "Fehler beim Speichern der Datei");
    EXPECT_EQ(log[2], "„" + path("nofolder/t.cfg") + "“" + why + "Fehler beim speichern der Datei");
    for (const auto& m : ui.messages())
        EXPECT_EQ(m.icon, core::Icon::Error);
    EXPECT_FALSE(fs::exists(path("nofolder")));
}

namespace
{
// A listening Unix socket at `where`; -1 when the path is too long for a socket address.
int makeSocket(const std::string& where)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (where.size() >= sizeof(a.sun_path))
        return -1;
    std::memcpy(a.sun_path, where.c_str(), where.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

mode_t typeOf(const std::string& p)
{
    struct stat st {
    };
    return ::lstat(p.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}
} // namespace

TEST_F(FilesTest, WhatIsNotARegularFileIsNeverReplaced)
{
    // A copy of the null device, a FIFO, a socket and a folder, all in the test's own folder,
    // and links to two of them: a save to any of them is refused, the node stays what it was
    // and nothing of the save is left beside it.
    const bool device = ::mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    fs::create_directory(path("folder"));
    fs::create_symlink("fifo", path("link-to-fifo.frd"));
    if (device)
        fs::create_symlink(path("null"), path("link-to-null.mes"));
    const int sock = makeSocket(path("sock"));

    struct Case {
        std::string name;
        mode_t type;
        files::TargetKind kind;
        const char* why;
    };
    std::vector<Case> cases = {
        {"fifo", S_IFIFO, files::TargetKind::Fifo, "benannte Pipe (FIFO)"},
        {"link-to-fifo.frd", S_IFLNK, files::TargetKind::Fifo, "benannte Pipe (FIFO)"},
        {"folder", S_IFDIR, files::TargetKind::Folder, "ein Ordner"},
    };
    if (device) {
        cases.push_back({"null", S_IFCHR, files::TargetKind::Device, "ein Gerät"});
        cases.push_back({"link-to-null.mes", S_IFLNK, files::TargetKind::Device, "ein Gerät"});
    }
    if (sock >= 0)
        cases.push_back({"sock", S_IFSOCK, files::TargetKind::Socket, "ein Socket"});
    const std::vector<std::string> before = namesIn(dir);
    for (const Case& c : cases) {
        const std::string text = "replaces nothing";
        const files::SaveResult r = files::saveReplacing(
            path(c.name), reinterpret_cast<const unsigned char*>(text.data()), text.size());
        EXPECT_EQ(r.status, files::WriteStatus::CannotCreate) << c.name;
        EXPECT_EQ(r.refusedTarget, c.kind) << c.name;
        EXPECT_EQ(typeOf(path(c.name)), c.type) << c.name;
        const std::string message = files::saveFailureText(path(c.name), r);
        EXPECT_NE(message.find(path(c.name)), std::string::npos) << message;
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        EXPECT_NE(message.find("nicht überschrieben"), std::string::npos) << message;
    }
    EXPECT_EQ(namesIn(dir), before);
    EXPECT_TRUE(fs::is_empty(path("folder")));

    // A pipe reached through the kernel's link to a descriptor (as /dev/stdout in a
    // pipeline), whose target names no file: refused as the pipe it is.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::string viaLink = "/proc/self/fd/" + std::to_string(ends[1]);
    if (fs::exists(viaLink)) {
        const std::string text = "replaces nothing";
        const files::SaveResult r = files::saveReplacing(
            viaLink, reinterpret_cast<const unsigned char*>(text.data()), text.size());
        EXPECT_EQ(r.refusedTarget, files::TargetKind::Fifo);
    }
    ::close(ends[0]);
    ::close(ends[1]);

    // The window's saves say so in their message.
    ui.clear();
    EXPECT_EQ(files::writeMeasurementFile(path("fifo")), files::WriteStatus::CannotCreate);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].caption, "Fehler beim Speichern der Datei");
    EXPECT_NE(ui.messages()[0].text.find("„" + path("fifo") + "“"), std::string::npos);
    EXPECT_EQ(typeOf(path("fifo")), static_cast<mode_t>(S_IFIFO));
    if (sock >= 0)
        ::close(sock);
    if (!device)
        GTEST_SKIP() << "no device node could be made here (no CAP_MKNOD); FIFO, socket and "
                        "folder were checked";
}

TEST_F(FilesTest, FilesThatCannotBeOpenedSayWhy)
{
    fs::create_directory(path("folder"));
    ASSERT_EQ(::mkfifo(path("fifo.mes").c_str(), 0644), 0);
    EXPECT_EQ(files::openFailureText(path("none.mes")),
              "„" + path("none.mes") + "“ (die Datei existiert nicht)");
    EXPECT_EQ(files::openFailureText(path("folder")),
              "„" + path("folder") + "“ (das ist ein Ordner)");
    EXPECT_NE(files::openFailureText(path("fifo.mes")).find("FIFO"), std::string::npos);
    EXPECT_NE(files::openFailureText(path(std::string(300, 'n') + ".mes")).find("Name ist zu lang"),
              std::string::npos);
    EXPECT_EQ(files::openFailureText(""), "„“ (kein Dateiname angegeben)");

    // The load of a measurement file names the file after the message that it can't be opened.
    EXPECT_EQ(files::readMeasurementFile(path("none.mes")), files::FileStatus::CannotOpen);
    EXPECT_EQ(messageLog(), (std::vector<std::string>{"„" + path("none.mes") +
                                                      "“ (die Datei existiert nicht)|Fehler beim "
                                                      "Öffnen der Datei"}));

    // The system's reasons of failed saves in German.
    EXPECT_EQ(files::systemReasonText(ENOSPC), "der Datenträger ist voll");
    EXPECT_EQ(files::systemReasonText(EACCES), "keine Berechtigung");
    EXPECT_EQ(files::systemReasonText(ENAMETOOLONG), "der Name ist zu lang");
    EXPECT_EQ(files::systemReasonText(EISDIR), "das ist ein Ordner");
    files::simulateShortWrite(3);
    const std::string text = "longer than three bytes";
    const files::SaveResult r = files::saveReplacing(
        path("t.txt"), reinterpret_cast<const unsigned char*>(text.data()), text.size());
    files::simulateShortWrite(-1);
    EXPECT_EQ(r.status, files::WriteStatus::WriteFailed);
    EXPECT_EQ(files::saveFailureText("t.txt", r), "„t.txt“ (der Datenträger ist voll)");
}

TEST_F(FilesTest, LoadsWaitForTheLockOfAnInPlaceSave)
{
    // The in-place save holds an exclusive lock on the file while it writes; a load asks for a
    // shared one and so never reads a file half old and half new.
    writeText(path("t.mes"), "the complete new content");
    const int fd = ::open(path("t.mes").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    std::atomic<bool> done{false};
    files::Bytes got;
    std::thread reader([&] {
        files::readFileStart(path("t.mes"), 1000, got);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(done.load()) << "the load went on while the file was locked";
    ::flock(fd, LOCK_UN);
    reader.join();
    ::close(fd);
    EXPECT_EQ(std::string(got.begin(), got.end()), "the complete new content");
}
