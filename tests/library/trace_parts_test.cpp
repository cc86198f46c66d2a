// The trace's queue and file on their own: a full queue counts what it drops and the writer reports the count;
// the file is capped and rotated once.
#include <sys/stat.h>

#include "trace/TraceFile.h"
#include "trace/TraceQueue.h"
#include "trace_fixture.h"

namespace trace_test {
namespace {

STraceRecord record(const char *text) {
    STraceRecord r = {};
    snprintf(r.szText, sizeof(r.szText), "%s", text);
    return r;
}

long long fileSize(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

TEST(TraceQueue, countsWhatAFullQueueDropsAndKeepsTheOrder) {
    CTraceQueue queue(3);
    EXPECT_TRUE(queue.Push(record("a")));
    EXPECT_TRUE(queue.Push(record("b")));
    EXPECT_TRUE(queue.Push(record("c")));
    EXPECT_FALSE(queue.Push(record("d")));
    EXPECT_FALSE(queue.Push(record("e")));

    std::vector<STraceRecord> batch;
    bool stop = true;
    EXPECT_EQ(2u, queue.Take(&batch, 0, &stop));
    EXPECT_FALSE(stop);
    ASSERT_EQ(3u, batch.size());
    EXPECT_STREQ("a", batch[0].szText);
    EXPECT_STREQ("c", batch[2].szText);

    EXPECT_TRUE(queue.Push(record("f")));
    EXPECT_EQ(0u, queue.Take(&batch, 0, &stop)) << "the count starts again after each take";
    ASSERT_EQ(1u, batch.size());
    EXPECT_STREQ("f", batch[0].szText);
}

TEST(TraceQueue, theWriterReportsTheDroppedCount) {
    std::string path = tracePath("dropped");
    switchTraceTo(path);
    // With the writer stopped nothing takes from the queue, so it fills up.
    StopTraceWriter();
    for (size_t i = 0; i < TRACE_QUEUE_CAPACITY + 7; ++i) TraceQueue().Push(record("test.filler"));
    EnsureTraceWriter();
    StopTraceWriter();
    switchTraceOff();
    std::vector<std::string> lines = readLines(path);
    EXPECT_EQ(1u, linesWith(lines, "# 7 events dropped").size());
    EXPECT_EQ(TRACE_QUEUE_CAPACITY, linesWith(lines, "test.filler").size());
}

TEST(TraceFile, isCappedAndRotatedOnce) {
    std::string path = tracePath("rotation");
    const ULONGLONG cap = 1000;
    CTraceFile file(path, cap);
    ASSERT_TRUE(file.OpenFresh());
    std::string line(99, 'x');
    line += '\n';
    for (int i = 0; i < 35; ++i) file.Write(line.data(), static_cast<DWORD>(line.size()));
    file.Close();

    EXPECT_LE(fileSize(path), static_cast<long long>(cap));
    EXPECT_LE(fileSize(path + ".1"), static_cast<long long>(cap));
    EXPECT_GT(fileSize(path + ".1"), static_cast<long long>(cap) - 100);
    EXPECT_EQ(0u, readLines(path)[0].find("# VIRIVOREzu trace"));
    EXPECT_EQ(0u, readLines(path + ".1")[0].find("# VIRIVOREzu trace"));
}

TEST(TraceFile, keepsThePreviousRunAsTheRotation) {
    std::string path = tracePath("previous");
    {
        CTraceFile first(path, TRACE_FILE_CAP);
        ASSERT_TRUE(first.OpenFresh());
        first.Write("first run\n", 10);
    }
    CTraceFile second(path, TRACE_FILE_CAP);
    ASSERT_TRUE(second.OpenFresh());
    second.Close();
    EXPECT_EQ(1u, linesWith(readLines(path + ".1"), "first run").size());
    EXPECT_TRUE(linesWith(readLines(path), "first run").empty());

    CTraceFile appended(path, TRACE_FILE_CAP);
    ASSERT_TRUE(appended.OpenForAppend());
    appended.Write("second run\n", 11);
    appended.Close();
    std::vector<std::string> lines = readLines(path);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("second run", lines[1]);
}

}  // namespace
}  // namespace trace_test
