// For tests and benchmarks: a program linking allocation_counter.cpp replaces the global
// operator new and delete with versions that count the allocations made while counting is on.
#ifndef TESTS_SUPPORT_ALLOCATION_COUNTER_H_
#define TESTS_SUPPORT_ALLOCATION_COUNTER_H_

namespace vqscw::testing {

// Counts operator new calls (every form) from construction to destruction, on any thread. Only
// one may exist at a time.
class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  long count() const;
};

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_ALLOCATION_COUNTER_H_
