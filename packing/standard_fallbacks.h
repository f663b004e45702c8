#pragma once

// Two C++20 library parts that the web build's standard library (libc++ 13) lacks, in the
// few lines the code needs of them. Native builds use the standard's own.

#include <cstddef>
#include <memory>
#include <thread>
#include <utility>

namespace quorvex {

#if defined(__cpp_lib_jthread)
using joining_thread = std::jthread;
#else
/// A thread that is joined when it is replaced or goes, as std::jthread is; the code never
/// asks a thread to stop through it.
class joining_thread {
public:
    joining_thread() = default;
    template <typename Work>
    explicit joining_thread(Work&& work) : thread_(std::forward<Work>(work)) {}
    joining_thread(joining_thread&&) noexcept = default;
    joining_thread& operator=(joining_thread&& other) noexcept {
        if (thread_.joinable()) thread_.join();
        thread_ = std::move(other.thread_);
        return *this;
    }
    ~joining_thread() {
        if (thread_.joinable()) thread_.join();
    }
    [[nodiscard]] bool joinable() const { return thread_.joinable(); }
    void join() { thread_.join(); }

private:
    std::thread thread_;
};
#endif

/// An array of `count` elements left uninitialised, as std::make_unique_for_overwrite gives:
/// the caller writes every element before reading it.
template <typename Element>
[[nodiscard]] std::unique_ptr<Element[]> uninitialised_array(std::size_t count) {
    return std::unique_ptr<Element[]>(new Element[count]);
}

}  // namespace quorvex
