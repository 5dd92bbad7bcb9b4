#pragma once

#include "ProductInfo.h"

#include <memory>
#include <vector>

// Builds a product record whose holes and findings share one heap block with it: the items'
// pointers alias the block's count, so the records of a product cost two allocations (the
// block and the product's own count) instead of one per item. The product's count keeps the
// block; once it is released, the block lives on only as long as items are held elsewhere.
class RecordBlock
{
public:
    // A product holding `holes` and `apes`, which are moved out and left empty.
    static std::shared_ptr<tlv::ProductInfo> make(
        std::vector<tlv::HoleInfo> &holes, std::vector<tlv::ApeInfo> &apes);
};
