// A buffer from the library's allocator, given back when it goes out of
// scope; get() is nullptr when there was no memory for it.
#ifndef QUENDRAL_HOSTS_HEAP_BUFFER_H
#define QUENDRAL_HOSTS_HEAP_BUFFER_H

#include <cstddef>

#include "hosts_internal.h"

class heap_buffer {
public:
    explicit heap_buffer(std::size_t size)
        : size_(size ? size : 1), data_(static_cast<char *>(resize_memory(nullptr, 0, size_))) {}
    ~heap_buffer() { release_memory(data_, size_); }
    heap_buffer(const heap_buffer &) = delete;
    heap_buffer &operator=(const heap_buffer &) = delete;
    char *get() const { return data_; }

private:
    std::size_t size_;
    char *data_;
};

#endif
