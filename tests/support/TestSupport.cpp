#include "support/TestSupport.h"

#include <juce_core/juce_core.h>

#include <cstdlib>
#include <new>

namespace
{
// Per thread, so that work on other threads (timers, hosts) does not disturb a measurement.
thread_local std::size_t gAllocations = 0;
thread_local std::size_t gFrees = 0;
} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers own malloc; count at the C++ allocation functions instead.
void* operator new (std::size_t size)
{
    ++gAllocations;
    if (auto* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[] (std::size_t size) { return operator new (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    ++gAllocations;
    return std::malloc (size == 0 ? 1 : size);
}
void* operator new[] (std::size_t size, const std::nothrow_t& tag) noexcept { return operator new (size, tag); }

void operator delete (void* p) noexcept
{
    if (p != nullptr)
        ++gFrees;
    std::free (p);
}

void operator delete[] (void* p) noexcept { operator delete (p); }
void operator delete (void* p, std::size_t) noexcept { operator delete (p); }
void operator delete[] (void* p, std::size_t) noexcept { operator delete (p); }
#else
// Interposing the C allocator counts every heap allocation of the process, including those of
// operator new and of JUCE's own buffers, which allocate with malloc.
extern "C"
{
    void* __libc_malloc (std::size_t);
    void* __libc_calloc (std::size_t, std::size_t);
    void* __libc_realloc (void*, std::size_t);
    void __libc_free (void*);

    void* malloc (std::size_t size)
    {
        ++gAllocations;
        return __libc_malloc (size);
    }

    void* calloc (std::size_t count, std::size_t size)
    {
        ++gAllocations;
        return __libc_calloc (count, size);
    }

    void* realloc (void* p, std::size_t size)
    {
        ++gAllocations;
        return __libc_realloc (p, size);
    }

    void free (void* p)
    {
        if (p != nullptr)
            ++gFrees;
        __libc_free (p);
    }
}
#endif

namespace test_support
{
AllocationCounter::AllocationCounter()
    : startAllocations (gAllocations), startFrees (gFrees)
{
}

AllocationCounter::~AllocationCounter() = default;

std::size_t AllocationCounter::allocations() const { return gAllocations - startAllocations; }
std::size_t AllocationCounter::frees() const { return gFrees - startFrees; }

juce::File freshTemporaryFolder (const juce::String& name)
{
    auto root = juce::SystemStats::getEnvironmentVariable ("SORVANTA_TEST_TMP", {});
    auto base = root.isNotEmpty() ? juce::File (root) : juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("sorvanta-tests");
    auto folder = base.getChildFile (name);
    folder.deleteRecursively();
    folder.createDirectory();
    return folder;
}
} // namespace test_support
