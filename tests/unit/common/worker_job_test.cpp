#include "common/worker_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "support/test_support.h"

namespace dravolin {
namespace {

TEST(WorkerJob, StopCancelAndErrorsEndTheWorkerAsTheirRulesSay) {
  test::ScriptedPrompter prompter;
  struct Case {
    const char* what;
    bool cancel;           // else stop
    bool throwsError;
    bool expectCancelled;
    const char* error;
  };
  for (const Case& c : {Case{"stop: the worker finishes by itself", false, false, false, ""},
                        Case{"cancel: the worker unwinds at a checkpoint", true, false, true, ""},
                        Case{"an error is kept", false, true, false, "disk gone"}}) {
    SCOPED_TRACE(c.what);
    WorkerJob job(prompter);
    std::atomic<bool> running{false};
    std::atomic<bool> finishedNormally{false};
    job.start([&](Job& j) {
      running.store(true);
      if (c.throwsError) throw std::runtime_error("disk gone");
      while (!j.stopRequested()) j.checkpoint();
      j.setPercent(250);
      finishedNormally.store(true);
    });
    while (!running.load()) std::this_thread::yield();
    if (c.cancel) job.cancel();
    else job.stop();
    job.wait();
    EXPECT_TRUE(job.ended());
    EXPECT_EQ(job.cancelled(), c.expectCancelled);
    EXPECT_EQ(job.error(), c.error);
    EXPECT_EQ(finishedNormally.load(), !c.cancel && !c.throwsError);
    if (finishedNormally.load()) {
      EXPECT_EQ(job.percent(), 100);  // clamped
    }
  }
}

TEST(WorkerJob, APausedWorkerWaitsAtItsCheckpointUntilCancelled) {
  test::ScriptedPrompter prompter;
  WorkerJob job(prompter);
  job.pause();
  std::atomic<int> passed{0};
  job.start([&](Job& j) {
    j.checkpoint();
    passed.store(1);
  });
  job.cancel();
  job.wait();
  EXPECT_EQ(passed.load(), 0);
  EXPECT_FALSE(job.paused());
}

}  // namespace
}  // namespace dravolin
