// A file whose disk takes nothing: the writer's queue fills, a write says
// so at once instead of waiting, and what was queued is written once the
// disk takes it again.

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <thread>

#include "record/queuedfile.h"

TEST(QueuedFile, AFullQueueRefusesAtOnceAndIsWrittenLater) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const std::string chunk(1000, 'x');
    size_t queued = 0, got = 0;
    std::thread reader;
    {
        queuedFile file(fdopen(ends[1], "wb"), 200000);
        // The pipe holds far less than the queue, and nothing reads it yet.
        while (queued < 100 * file.capacity() && file.write(chunk)) queued += chunk.size();
        EXPECT_LT(queued, 2 * file.capacity()) << "the queue did not fill";
        reader = std::thread([&] {
            char buf[65536];
            ssize_t n;
            while ((n = read(ends[0], buf, sizeof buf)) > 0) got += static_cast<size_t>(n);
        });
    }
    reader.join();
    close(ends[0]);
    EXPECT_EQ(got, queued);
}
