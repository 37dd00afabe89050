#include "Platform/Platform.h"

#include <gtest/gtest.h>

using namespace Platform;

TEST(MessageSink, CaptureRecordsTextAndKindThenRestoresPreviousSink) {
    std::vector<std::string> outer;
    SetMessageSink([&](const std::string& t, MessageKind) { outer.push_back(t); });
    {
        ScopedMessageCapture capture;
        ShowMessage("Open Left Image error!", MessageKind::Exclamation);
        ShowMessage("Please select some points.", MessageKind::Plain);
        DebugTrace("Failed to create toolbar\n");
        ASSERT_EQ(capture.Messages().size(), 2u);
        EXPECT_EQ(capture.Messages()[0].kind, MessageKind::Exclamation);
        EXPECT_EQ(capture.Messages()[1].text, "Please select some points.");
        EXPECT_EQ(capture.Messages()[1].kind, MessageKind::Plain);
        ASSERT_EQ(capture.Traces().size(), 1u);
        EXPECT_TRUE(outer.empty());
    }
    ShowMessage("after");
    ASSERT_EQ(outer.size(), 1u);
    EXPECT_EQ(outer[0], "after");
    SetMessageSink({});
}
