#include <signal.h>

#include <memory>
#include <new>

#include "diagnostics/CrashReportThread.h"

namespace {

// Room for the fatal-signal handler: it captures a backtrace and waits for
// the helper thread (more under the sanitizers, whose code is larger).
constexpr size_t kAlternateStackSize = 256 * 1024;

// The calling thread's alternate signal stack, for the life of the thread.
class AlternateSignalStack {
public:
    AlternateSignalStack() : m_memory(new (std::nothrow) char[kAlternateStackSize]) {
        if (!m_memory) return;
        stack_t stack{};
        stack.ss_sp = m_memory.get();
        stack.ss_size = kAlternateStackSize;
        if (sigaltstack(&stack, &m_previous) != 0) m_memory.reset();
    }

    ~AlternateSignalStack() {
        if (!m_memory) return;
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == m_memory.get()) {
            sigaltstack(&m_previous, nullptr);
        } else {
            // Someone else installed a stack over ours and may put ours back:
            // the memory must stay valid.
            static_cast<void>(m_memory.release());
        }
    }

    AlternateSignalStack(const AlternateSignalStack&) = delete;
    AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

private:
    std::unique_ptr<char[]> m_memory;
    stack_t m_previous{};
};

}  // namespace

void PrepareThreadForCrashReports() {
    thread_local AlternateSignalStack stack;
    static_cast<void>(stack);
}
