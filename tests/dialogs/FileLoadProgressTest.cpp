#include "dialogs/FileLoadProgress.h"

#include <gtest/gtest.h>
#include <new>

using files::LoadControl;
using files::LoadStatus;

namespace {

TEST(FileLoadProgress, RunningOutOfMemoryIsAFailureWithAMessage) {
    QString error;
    const LoadStatus status =
        RunFileLoad(nullptr, "/some/file.nsd", error,
                    [](LoadControl&) -> LoadStatus { throw std::bad_alloc(); });
    EXPECT_EQ(status, LoadStatus::Failed);
    EXPECT_TRUE(error.contains("/some/file.nsd") && error.contains("not enough memory"))
        << error.toStdString();
}

} // namespace
