#include <gtest/gtest.h>

#include <thread>

#include "app/app_module.h"

namespace vantrel {
namespace app_module_test {
namespace {

class AppModuleTest : public ::testing::Test {
  protected:
    AppModuleTest() { m_module.Init(GetModuleHandleA(nullptr)); }

    CAppModule m_module;
    CMessageLoop m_loop;
};

TEST_F(AppModuleTest, InitRecordsTheInstanceAndTheMainThread) {
    EXPECT_EQ(m_module.GetInstance(), GetModuleHandleA(nullptr));
    EXPECT_EQ(m_module.GetMainThreadId(), GetCurrentThreadId());
    EXPECT_EQ(m_module.LoopForThread(GetCurrentThreadId()), nullptr);
}

TEST_F(AppModuleTest, RegisterLookUpAndUnregisterTheCallingThreadsLoop) {
    EXPECT_TRUE(m_module.RegisterLoop(&m_loop));
    EXPECT_EQ(m_module.LoopForThread(GetCurrentThreadId()), &m_loop);

    CMessageLoop second;
    EXPECT_FALSE(m_module.RegisterLoop(&second));  // one loop per thread; the first stays
    EXPECT_EQ(m_module.LoopForThread(GetCurrentThreadId()), &m_loop);

    EXPECT_TRUE(m_module.UnregisterLoop());
    EXPECT_EQ(m_module.LoopForThread(GetCurrentThreadId()), nullptr);
    EXPECT_FALSE(m_module.UnregisterLoop());
}

TEST_F(AppModuleTest, UnregisterOnAThreadWithoutALoopReturnsFalseAndLeavesOthersAlone) {
    m_module.RegisterLoop(&m_loop);
    bool unregistered = true;
    std::thread([&] { unregistered = m_module.UnregisterLoop(); }).join();
    EXPECT_FALSE(unregistered);
    EXPECT_EQ(m_module.LoopForThread(GetCurrentThreadId()), &m_loop);
}

TEST_F(AppModuleTest, EachThreadHasItsOwnEntry) {
    m_module.RegisterLoop(&m_loop);
    const DWORD mainThread = GetCurrentThreadId();
    CMessageLoop workerLoop;
    DWORD workerThread = 0;
    CMessageLoop* seenFromWorker = nullptr;
    CMessageLoop* workerOwnBefore = &workerLoop;
    std::thread([&] {
        workerThread = GetCurrentThreadId();
        seenFromWorker = m_module.LoopForThread(mainThread);
        workerOwnBefore = m_module.LoopForThread(workerThread);
        m_module.RegisterLoop(&workerLoop);
    }).join();

    EXPECT_EQ(seenFromWorker, &m_loop);
    EXPECT_EQ(workerOwnBefore, nullptr);
    EXPECT_EQ(m_module.LoopForThread(workerThread), &workerLoop);
    EXPECT_EQ(m_module.LoopForThread(mainThread), &m_loop);
}

TEST_F(AppModuleTest, TermEmptiesTheTable) {
    m_module.RegisterLoop(&m_loop);
    m_module.Term();
    EXPECT_EQ(m_module.LoopForThread(GetCurrentThreadId()), nullptr);
    EXPECT_FALSE(m_module.UnregisterLoop());
}

}  // namespace
}  // namespace app_module_test
}  // namespace vantrel
