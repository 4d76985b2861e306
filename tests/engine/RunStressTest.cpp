// Many short runs with pause, resume and stop at random moments: every run must end, notify
// exactly once and leave either a valid output or none.
#include "RunHarness.h"

#include "ffbind/MainThread.h"
#include "support/TestMedia.h"

#include <chrono>
#include <random>
#include <thread>

namespace {

TEST(RunStressTest, RandomPauseResumeAndStopNeverHang) {
    TTempFolder folder;
    std::mt19937 random(20240611);
    const auto input = Fixture("mono_8k.wav");
    int finished = 0;
    for (int i = 0; i < 200; ++i) {
        TEngineUnderTest run;
        run.OpenInputs({}, {input});
        run.CreateOutput({{"acodec", "copy"}}, folder / ("out" + std::to_string(i) + ".wav"));
        TServedThread* worker = run.Start(random() % 4 != 0);
        ASSERT_NE(worker, nullptr);
        const int actions = static_cast<int>(random() % 4);
        for (int a = 0; a < actions; ++a) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
            CheckSynchronize();
            switch (random() % 3) {
            case 0:
                run.Engine->Pause();
                break;
            case 1:
                run.Engine->Resume();
                break;
            default:
                run.Engine->Stop(random() % 2 == 0 ? swWaitForEnd : swNoWait);
                break;
            }
        }
        if (random() % 2)
            run.Engine->Stop(swWaitForEnd);
        else
            run.Engine->Resume();
        run.WaitForEnd();
        run.Engine.reset();
        ASSERT_EQ(run.Terminations, 1) << "run " << i;
        finished += 1;
    }
    EXPECT_EQ(finished, 200);
}

} // namespace
