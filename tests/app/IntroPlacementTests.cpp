#include "shell/IntroPlacement.h"

#include <gtest/gtest.h>

namespace {

TEST(ShellIntro, FrameFollowsTheScreenCentredAndClamped)
{
    const std::pair<QRect, QRect> cases[] = {
        {{0, 0, 1440, 900}, {80, 90, 1280, 720}},
        {{0, 0, 1366, 768}, {107, 84, 1152, 600}},
        {{0, 0, 1380, 819}, {50, 109, 1280, 600}},
        {{0, 0, 1380, 820}, {50, 50, 1280, 720}},
        {{1920, 0, 1440, 900}, {2000, 90, 1280, 720}},
        {{}, {-576, -300, 1152, 600}},
        {{0, 0, 1024, 600}, {0, 0, 1024, 600}},
        {{0, 0, 800, 480}, {0, 0, 800, 480}},
    };
    for (const auto& [screen, frame] : cases) {
        const QRect got = introFrame(screen);
        EXPECT_EQ(got, frame) << screen.width() << "x" << screen.height() << " gave " << got.x() << "," << got.y() << " "
                              << got.width() << "x" << got.height();
        if (!screen.isNull()) {
            EXPECT_TRUE(screen.contains(got));
        }
    }
}

} // namespace
