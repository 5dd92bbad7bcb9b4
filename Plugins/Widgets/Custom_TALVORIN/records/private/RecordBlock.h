#pragma once

#include "ProductInfo.h"

#include <memory>
#include <vector>

// Builds a product record whose holes and findings share one count: the items' pointers alias
// one block holding both arrays, so the items of a product cost that block and its two arrays
// instead of one allocation each. The product's lists hold the block; once the product is
// released, the block lives on only as long as items are held elsewhere.
class RecordBlock
{
public:
    // A product holding `holes` and `apes`, which are moved out and left empty.
    static std::shared_ptr<tlv::ProductInfo> make(
        std::vector<tlv::HoleInfo> &holes, std::vector<tlv::ApeInfo> &apes);
};
