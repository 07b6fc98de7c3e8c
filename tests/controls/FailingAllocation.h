#pragma once

#include <cstddef>

namespace netsonde::test {

// Makes one allocation through operator new fail with std::bad_alloc: the
// one after `allowed` more have succeeded, on the calling thread only. Every
// allocation after it succeeds again. Used to show that a step undoes what
// it did when memory runs out half-way.
class FailingAllocation {
public:
    explicit FailingAllocation(std::size_t allowed);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;
    // True once the allocation has failed.
    bool Struck() const;
};

} // namespace netsonde::test
