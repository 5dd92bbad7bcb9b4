#include "RecordBlock.h"

#include <cstddef>
#include <new>
#include <utility>

namespace {

// Bytes of items that follow the next block allocated on this thread, and where they start.
thread_local size_t t_tailBytes = 0;
thread_local char *t_tail = nullptr;

// Allocates std::allocate_shared's control block with room for the items behind it.
template <typename T> struct TailAllocator
{
    using value_type = T;
    TailAllocator() = default;
    template <typename U> TailAllocator(const TailAllocator<U> &) { }
    T *allocate(size_t n)
    {
        const size_t head
            = (n * sizeof(T) + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
        char *memory = static_cast<char *>(::operator new(head + t_tailBytes));
        t_tail = memory + head;
        return reinterpret_cast<T *>(memory);
    }
    void deallocate(T *p, size_t) { ::operator delete(p); }
    template <typename U> bool operator==(const TailAllocator<U> &) const { return true; }
    template <typename U> bool operator!=(const TailAllocator<U> &) const { return false; }
};

struct Block
{
    Block(std::vector<tlv::HoleInfo> &holeItems, std::vector<tlv::ApeInfo> &apeItems)
        : tail(t_tail)
        , holeCount(int(holeItems.size()))
        , apeCount(int(apeItems.size()))
    {
        for (int i = 0; i < holeCount; ++i)
            new (holes() + i) tlv::HoleInfo(std::move(holeItems[size_t(i)]));
        for (int i = 0; i < apeCount; ++i)
            new (apes() + i) tlv::ApeInfo(std::move(apeItems[size_t(i)]));
    }
    ~Block()
    {
        for (int i = 0; i < holeCount; ++i)
            holes()[i].~HoleInfo();
        for (int i = 0; i < apeCount; ++i)
            apes()[i].~ApeInfo();
    }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;

    tlv::HoleInfo *holes() { return reinterpret_cast<tlv::HoleInfo *>(tail); }
    tlv::ApeInfo *apes()
    {
        return reinterpret_cast<tlv::ApeInfo *>(tail + size_t(holeCount) * sizeof(tlv::HoleInfo));
    }

    tlv::ProductInfo product;
    char *tail;
    int holeCount;
    int apeCount;
};

static_assert(
    alignof(tlv::HoleInfo) <= alignof(std::max_align_t) && sizeof(tlv::HoleInfo) % alignof(tlv::ApeInfo) == 0,
    "items are laid out back to back behind the block");

// The product's own lists hold the block as well; the product's release drops them with its
// own reference, so the block does not keep itself alive.
struct Release
{
    std::shared_ptr<Block> block;
    void operator()(tlv::ProductInfo *product)
    {
        product->vtHoles.clear();
        product->vtApes.clear();
        block.reset();
    }
};

} // namespace

std::shared_ptr<tlv::ProductInfo> RecordBlock::make(
    std::vector<tlv::HoleInfo> &holes, std::vector<tlv::ApeInfo> &apes)
{
    t_tailBytes = holes.size() * sizeof(tlv::HoleInfo) + apes.size() * sizeof(tlv::ApeInfo);
    std::shared_ptr<Block> block = std::allocate_shared<Block>(TailAllocator<Block>(), holes, apes);
    holes.clear();
    apes.clear();
    tlv::ProductInfo &product = block->product;
    product.vtHoles.reserve(block->holeCount);
    for (int i = 0; i < block->holeCount; ++i)
        product.vtHoles.append(std::shared_ptr<tlv::HoleInfo>(block, block->holes() + i));
    product.vtApes.reserve(block->apeCount);
    for (int i = 0; i < block->apeCount; ++i)
        product.vtApes.append(std::shared_ptr<tlv::ApeInfo>(block, block->apes() + i));
    return std::shared_ptr<tlv::ProductInfo>(&product, Release { std::move(block) });
}
