// Allocation-failure injection for tests. A program linking this library has
// its global operator new / delete replaced by versions that count the live
// blocks and, when armed, make one chosen nothrow allocation return null.
// Throwing new is counted but never failed: the module allocates only with
// new (std::nothrow), and a failure in a test's own std::string or gtest would
// say nothing about it. Counters are atomic, so other threads' allocations
// count too: arm only while one thread does the work under test.
//
//   AllocFailure::failEachAllocation([&](unsigned long n) {
//     SafeCString s("abc");
//     s += SafeCString("def");
//     if (s.c_str() == nullptr) EXPECT_EQ(E_OUTOFMEMORY, s.getStatus());
//   });
#ifndef QUENTA_TESTS_SUPPORT_ALLOCFAILURE_H_
#define QUENTA_TESTS_SUPPORT_ALLOCFAILURE_H_

#include <gtest/gtest.h>

namespace AllocFailure {

// The n-th nothrow allocation from now on (n >= 1) returns null; the ones
// before and after it succeed. failAt(0) disarms and clears failureInjected().
void failAt(unsigned long n);
// Stops injecting; failureInjected() keeps telling whether the last arming hit.
void disarm();
bool failureInjected();

// While a Suspend lives, nothrow allocations are neither counted nor failed:
// a test builds its operands under one and arms only the operation itself.
class Suspend {
 public:
  Suspend();
  ~Suspend();
  Suspend(const Suspend&) = delete;
  Suspend& operator=(const Suspend&) = delete;
};

// Blocks of every kind allocated and not yet freed.
long liveAllocations();

// Runs body(n) with the n-th nothrow allocation failing, for n = 1, 2, ...
// until a run completes without an injected failure, and checks after every
// run that the live blocks went back to their count before it. One unarmed
// run comes first so that one-time caches fill. Stops at the first leak.
// Returns the number of runs with an injected failure, i.e. the nothrow
// allocations the operation makes.
template <typename Body>
unsigned long failEachAllocation(Body body, unsigned long limit = 100000) {
  failAt(0);
  body(0UL);
  for (unsigned long n = 1; n <= limit; ++n) {
    long before = liveAllocations();
    failAt(n);
    body(n);
    bool injected = failureInjected();
    disarm();
    long after = liveAllocations();
    EXPECT_EQ(before, after) << "live allocations changed when allocation " << n << " failed";
    if (before != after) {
      return n;
    }
    if (!injected) {
      return n - 1;
    }
  }
  ADD_FAILURE() << "still failing allocations after " << limit << " runs";
  return limit;
}

}  // namespace AllocFailure

#endif  // QUENTA_TESTS_SUPPORT_ALLOCFAILURE_H_
