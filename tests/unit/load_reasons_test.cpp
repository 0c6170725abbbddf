// Why a load fails: for each kind of path and of refused bytes, the reason
// CDicomFile::Load gives and its sentence, which the window and quillon-dump
// show as they are.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "dicom/DicomFile.h"
#include "dicom/OpenFile.h"
#include "tests/support/DicomWriter.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/OrdinaryUser.h"

using doctest_files::TempDir;
using quillon::Reason;
using quillon::Status;
using testdicom::Bytes;

namespace {

std::string Answer(const Status& status) { return std::to_string(int(status.Code())) + "|" + status.Text(); }

// A file cut off inside the value of its last element, and where that element starts.
std::pair<Bytes, std::size_t> CutOffFile() {
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    testdicom::StudyElements(w);
    const std::size_t at = w.size();
    w.header(0x0020, 0x4000, "LT", 40).raw(std::string("cut off"));
    return {w.bytes(), at};
}

TEST(LoadReasons, EachFailureSaysWhy) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    const auto plain = dir.Write("plain.dcm", doctest_files::SequenceFile());
    std::filesystem::create_directory(dir.path() / "folder");
    ASSERT_EQ(0, mkfifo((dir.path() / "pipe.dcm").c_str(), 0600));
    std::filesystem::create_symlink("loop.dcm", dir.path() / "loop.dcm");
    const auto locked = dir.Write("locked.dcm", doctest_files::SequenceFile());
    ASSERT_EQ(0, chmod(locked.c_str(), 0));
    std::filesystem::create_directory(dir.path() / "closed");
    const auto shut = dir.path() / "closed" / "inside.dcm";
    dir.Write("closed/inside.dcm", doctest_files::SequenceFile());
    ASSERT_EQ(0, chmod((dir.path() / "closed").c_str(), 0600));  // not searchable

    const auto [cut, cutAt] = CutOffFile();
    testdicom::Writer few = testdicom::Part10(testdicom::kExplicitLE);
    few.text(0x0008, 0x0060, "CS", "OT");  // four elements with the meta group

    const std::string cannotOpen = "The system does not let the file be opened for reading: Permission denied.";
    struct Case {
        const char* name;
        std::filesystem::path path;  // or, when empty, the bytes (also loaded from memory)
        Bytes bytes;
        Reason reason;
        std::string text;
        bool ordinaryUser = false;  // root reads every file: checked as an ordinary user
    } cases[] = {
        {"missing", dir.path() / "missing.dcm", {}, Reason::NotFound, "There is no file at this path."},
        {"under a file", plain / "x.dcm", {}, Reason::NotFound, "There is no file at this path."},
        {"symbolic link loop",
         dir.path() / "loop.dcm",
         {},
         Reason::NotFound,
         "No file can be reached at this path: Too many levels of symbolic links."},
        {"folder", dir.path() / "folder", {}, Reason::Directory, "The path names a folder, not a file."},
        {"named pipe",
         dir.path() / "pipe.dcm",
         {},
         Reason::NotRegularFile,
         "The path names a named pipe, not a regular file."},
        {"device", "/dev/null", {}, Reason::NotRegularFile, "The path names a character device, not a regular file."},
        {"unreadable", locked, {}, Reason::PermissionDenied, cannotOpen, true},
        {"in a folder not searchable", shut, {}, Reason::PermissionDenied, cannotOpen, true},
        {"empty", {}, {}, Reason::Empty, "The file is empty."},
        {"not DICOM",
         {},
         Bytes(300, 'x'),
         Reason::NotDicom,
         "Reading stopped at byte 0, element (7878,7878): no DICM at byte 128, and the first tag is implausible in "
         "either byte order."},
        {"cut off",
         {},
         cut,
         Reason::NotDicom,
         "Reading stopped at byte " + std::to_string(cutAt) +
             ", element (0020,4000): the last element is cut off by the end of the file."},
        {"too few elements",
         {},
         few.bytes(),
         Reason::NotDicom,
         "Reading stopped at byte " + std::to_string(few.size()) +
             ": fewer elements than a DICOM file has: not taken for one."},
        {"DICOM", plain, {}, Reason::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool fromBytes = c.path.empty();
        const std::filesystem::path path = fromBytes ? dir.Write("bytes.dcm", c.bytes) : c.path;
        const std::string expected = std::to_string(int(c.reason)) + "|" + c.text;
        if (c.ordinaryUser) {
            const auto answer = testsupport::AsOrdinaryUser([&] {
                CDicomFile f;
                return Answer(f.Load(path));
            });
            if (!answer) {
                ADD_FAILURE() << "cannot give up root to check as an ordinary user";
                continue;
            }
            EXPECT_EQ(*answer, expected);
            continue;
        }
        CDicomFile f;
        const Status status = f.Load(path);
        EXPECT_EQ(Answer(status), expected);
        EXPECT_EQ(bool(status), c.reason == Reason::None);
        if (c.reason == Reason::Empty || c.reason == Reason::NotDicom) {
            // The problems say where the parse stopped, in the same words.
            ASSERT_TRUE(f.Problems().Stopped());
            if (c.reason == Reason::NotDicom) {
                EXPECT_EQ(quillon::StopSentence(f.Problems().All().back()), c.text);
            }
        } else if (c.reason != Reason::None) {
            // Nothing was parsed: no problems, no elements.
            EXPECT_TRUE(f.Problems().Empty());
            EXPECT_EQ(f.Find(0x0002, 0x0010), nullptr);
        }
        if (fromBytes) {
            CDicomFile m;
            EXPECT_EQ(Answer(m.LoadMemory(c.bytes.data(), c.bytes.size())), expected) << "from memory";
        }
    }
    chmod((dir.path() / "closed").c_str(), 0700);  // so that the folder can go
}

// A file loaded after a failure loads as if the failure had not been.
TEST(LoadReasons, AFailureLeavesNothingBehind) {
    TempDir dir;
    const Bytes good = doctest_files::SequenceFile();
    const auto path = dir.Write("good.dcm", good);
    CDicomFile f;
    ASSERT_TRUE(f.Load(path));
    ASSERT_NE(f.Find(0x0010, 0x0020), nullptr);
    const std::size_t problems = f.Problems().Size();
    EXPECT_EQ(f.Load(dir.path()).Code(), Reason::Directory);
    EXPECT_EQ(f.Find(0x0010, 0x0020), nullptr);
    // Cut before "DICM": refused, not kept as far as read.
    EXPECT_EQ(f.LoadMemory(good.data(), 100).Code(), Reason::NotDicom);
    EXPECT_FALSE(f.Partial());
    EXPECT_EQ(f.Find(0x0002, 0x0001), nullptr);
    ASSERT_TRUE(f.Load(path));
    EXPECT_NE(f.Find(0x0010, 0x0020), nullptr);
    EXPECT_EQ(f.Problems().Size(), problems);
}

}  // namespace
