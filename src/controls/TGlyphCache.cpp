#include "controls/TGlyphCache.h"

#include "controls/TGlyphList.h"

#include <algorithm>

namespace {
std::unique_ptr<TGlyphCache>& CacheSlot() {
    static std::unique_ptr<TGlyphCache> cache;
    return cache;
}
} // namespace

TGlyphCache::TGlyphCache() = default;
TGlyphCache::~TGlyphCache() = default;

TGlyphCache& TGlyphCache::Instance() {
    auto& slot = CacheSlot();
    if (!slot)
        slot = std::make_unique<TGlyphCache>();
    return *slot;
}

TGlyphCache* TGlyphCache::Existing() {
    return CacheSlot().get();
}

void TGlyphCache::ReleaseIfEmpty() {
    auto& slot = CacheSlot();
    if (slot && slot->Empty())
        slot.reset();
}

TGlyphList* TGlyphCache::GetList(int width, int height) {
    for (const auto& list : FLists)
        if (list->Width() == width && list->Height() == height)
            return list.get();
    FLists.push_back(std::make_unique<TGlyphList>(width, height));
    return FLists.back().get();
}

void TGlyphCache::ReturnList(TGlyphList* list) {
    if (!list || list->Count() > 0)
        return;
    FLists.erase(std::remove_if(FLists.begin(), FLists.end(),
                                [list](const auto& l) { return l.get() == list; }),
                 FLists.end());
}
