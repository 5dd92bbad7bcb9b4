#include "RecordBlock.h"

#include <utility>

namespace {

// Apart from the product: a product in the same block would hold itself through its lists.
struct Items
{
    std::vector<tlv::HoleInfo> holes;
    std::vector<tlv::ApeInfo> apes;
};

} // namespace

std::shared_ptr<tlv::ProductInfo> RecordBlock::make(
    std::vector<tlv::HoleInfo> &holes, std::vector<tlv::ApeInfo> &apes)
{
    auto product = std::make_shared<tlv::ProductInfo>();
    if (holes.empty() && apes.empty())
        return product;
    auto items = std::make_shared<Items>(Items { std::move(holes), std::move(apes) });
    holes.clear();
    apes.clear();
    product->vtHoles.reserve(int(items->holes.size()));
    for (tlv::HoleInfo &hole : items->holes)
        product->vtHoles.append(std::shared_ptr<tlv::HoleInfo>(items, &hole));
    product->vtApes.reserve(int(items->apes.size()));
    for (tlv::ApeInfo &ape : items->apes)
        product->vtApes.append(std::shared_ptr<tlv::ApeInfo>(items, &ape));
    return product;
}
