#pragma once

#include <memory>
#include <vector>

class TGlyphList;

// The process-wide set of glyph image lists, at most one per image size,
// shared by every glyph of that size. A list is destroyed when its last slot
// is handed back; the cache itself when the last glyph goes and no list is
// left.
class TGlyphCache {
public:
    TGlyphCache();
    ~TGlyphCache();
    TGlyphCache(const TGlyphCache&) = delete;
    TGlyphCache& operator=(const TGlyphCache&) = delete;

    // The cache, created on first use.
    static TGlyphCache& Instance();
    // The cache when it exists, else nullptr.
    static TGlyphCache* Existing();
    // Destroys the cache when it holds no list.
    static void ReleaseIfEmpty();

    // The list for images of width x height, created when missing.
    TGlyphList* GetList(int width, int height);
    // Hands a list back; it is destroyed when none of its slots is in use.
    void ReturnList(TGlyphList* list);
    bool Empty() const { return FLists.empty(); }
    int ListCount() const { return static_cast<int>(FLists.size()); }

private:
    std::vector<std::unique_ptr<TGlyphList>> FLists;
};
