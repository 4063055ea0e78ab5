#include "vqscwlib/preview/buffer_pool.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class BufferPoolTest : public ::testing::Test {
 protected:
  void TearDown() override { pool_->Release(); }
  CBufferPool* pool_ = CBufferPool::Create(3, 64);
};

TEST_F(BufferPoolTest, BufferReturnedLastIsHandedOutFirst) {
  CPacketBuffer* a = pool_->Get(nullptr, 0);
  CPacketBuffer* b = pool_->Get(nullptr, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a->data(), b->data());
  EXPECT_EQ(a->capacity(), 64u);
  b->Release();
  a->Release();
  EXPECT_EQ(pool_->Get(nullptr, 0), a);
  a->Release();
}

TEST_F(BufferPoolTest, EmptyPoolWithoutEventGivesNothingAtOnce) {
  CPacketBuffer* held[3];
  for (auto& buffer : held) buffer = pool_->Get(nullptr, 0);
  EXPECT_EQ(pool_->Get(nullptr, 0), nullptr);
  vqscw::Event event(vqscw::Event::ResetMode::kManual);
  EXPECT_EQ(pool_->Get(&event, 0), nullptr);
  // The timed-out waiter left the queue: the next release goes to the free list.
  held[0]->Release();
  EXPECT_EQ(pool_->free_count(), 1u);
  held[1]->Release();
  held[2]->Release();
}

TEST_F(BufferPoolTest, WaiterIsHandedTheReleasedBuffer) {
  CPacketBuffer* held[3];
  for (auto& buffer : held) buffer = pool_->Get(nullptr, 0);
  vqscw::Event event(vqscw::Event::ResetMode::kManual);
  CPacketBuffer* handed = nullptr;
  std::thread waiter([&] { handed = pool_->Get(&event, 5000); });
  // The waiter may not be queued yet; a release before then lands on the free list and the
  // waiter takes it from there. Either way it gets this buffer.
  held[1]->Release();
  waiter.join();
  EXPECT_EQ(handed, held[1]);
  EXPECT_EQ(pool_->free_count(), 0u);
  handed->Release();
  held[0]->Release();
  held[2]->Release();
}

TEST_F(BufferPoolTest, PoolReleasedByItsCreatorLivesUntilItsLastBufferComesBack) {
  CBufferPool* pool = CBufferPool::Create(2, 16);
  CPacketBuffer* buffer = pool->Get(nullptr, 0);
  pool->Release();
  buffer->data()[15] = 1;  // still valid memory
  buffer->Release();       // frees the pool (checked by the address sanitizer build)
}

TEST(BufferPoolCreateTest, RefusesEmptyPools) {
  EXPECT_EQ(CBufferPool::Create(0, 64), nullptr);
  EXPECT_EQ(CBufferPool::Create(4, 0), nullptr);
}

}  // namespace
