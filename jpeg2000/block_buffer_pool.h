// A stack of code-block sample buffers of one size, reused from block to block.
#pragma once

#include <cstdint>
#include <memory>

namespace zn::j2k {

class block_buffer_pool
{
public:
    block_buffer_pool(int rows, int cols);
    ~block_buffer_pool() { terminate(); }
    block_buffer_pool(const block_buffer_pool &) = delete;
    block_buffer_pool &operator=(const block_buffer_pool &) = delete;

    // The most recently returned buffer (old contents kept), else a fresh zero-filled one.
    int32_t *get();
    void put(int32_t *buffer);
    void terminate();

    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    int capacity() const { return m_capacity; }
    int created() const { return m_created; }
    int held() const { return m_held; }

private:
    int32_t m_rows, m_cols;
    int32_t m_capacity = 16;
    int32_t m_created = 0;
    int32_t m_held = 0;
    int32_t **m_buffers = nullptr;
};

std::unique_ptr<block_buffer_pool> create_block_buffer_pool(int rows, int cols);

} // namespace zn::j2k
