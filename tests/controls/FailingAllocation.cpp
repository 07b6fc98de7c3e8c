// Replaces the plain forms of operator new and delete of this test program
// (Qt's libraries call them too) so that one allocation can be made to fail.
// The aligned forms stay the library's, as they are paired among themselves.
#include "FailingAllocation.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool armed = false;
thread_local std::size_t left = 0;
thread_local bool struck = false;

void* allocate(std::size_t size) {
    if (armed) {
        if (left == 0) {
            armed = false;
            struck = true;
            return nullptr;
        }
        --left;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}

} // namespace

namespace netsonde::test {

FailingAllocation::FailingAllocation(std::size_t allowed) {
    left = allowed;
    struck = false;
    armed = true;
}

FailingAllocation::~FailingAllocation() {
    armed = false;
}

bool FailingAllocation::Struck() const {
    return struck;
}

} // namespace netsonde::test

void* operator new(std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
