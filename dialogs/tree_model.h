// A plain tree of items as a tree control shows them: text, icon number,
// children, expand state and one selected item. Window models fill it; a
// front end renders it and forwards taps, expansions and selections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vardane {

// Item handle. Handles stay valid until their item is deleted and are never
// reused within one model, so a front end can keep them as item keys.
using TreeItem = int;
inline constexpr TreeItem kNoItem = 0;

class TreeModel {
  public:
    TreeModel();

    // Removes every item; handles given before become invalid.
    void Clear();

    // Inserts below parent (kNoItem: a top-level item). sorted: at its place
    // among the siblings in case-insensitive order of texts (after equal
    // ones); otherwise at the end.
    TreeItem Insert(TreeItem parent, std::string text, int icon, bool sorted = false);
    // Deletes the item with all its children. A selection inside is cleared.
    void Delete(TreeItem item);
    // Deletes every child of item (kNoItem: every top-level item).
    void DeleteChildren(TreeItem item);

    bool Exists(TreeItem item) const;
    TreeItem Parent(TreeItem item) const;
    // Children in display order; kNoItem gives the top-level items.
    const std::vector<TreeItem>& Children(TreeItem item) const;
    TreeItem FirstChild(TreeItem item) const;
    // The first top-level item, kNoItem when the tree is empty.
    TreeItem Top() const { return FirstChild(kNoItem); }
    // The top-level items have depth 1, their children 2 and so on; 0 for
    // kNoItem and unknown handles.
    int Depth(TreeItem item) const;

    const std::string& Text(TreeItem item) const;
    void SetText(TreeItem item, std::string text);
    int Icon(TreeItem item) const;
    void SetIcon(TreeItem item, int icon);

    bool IsExpanded(TreeItem item) const;
    void Expand(TreeItem item, bool expand = true);

    // Orders the children of item by text, case-insensitive, stable.
    void SortChildren(TreeItem item);

    TreeItem Selected() const { return selected_; }
    void Select(TreeItem item);

    // Every item in display order (depth first), for front ends and lookups.
    std::vector<TreeItem> AllItems() const;

    // Grows with every change, so a front end knows when to redraw.
    uint64_t Revision() const { return revision_; }

  private:
    struct Node {
        bool alive = false;
        TreeItem parent = kNoItem;
        std::vector<TreeItem> children;
        std::string text;
        int icon = 0;
        bool expanded = false;
    };

    Node* Find(TreeItem item);
    const Node* Find(TreeItem item) const;
    void Kill(TreeItem item);
    void Touch() { ++revision_; }

    // Index of a live handle in nodes_.
    size_t Index(TreeItem item) const;

    // nodes_[0] is the invisible root; item handle h lives at h - base_.
    std::vector<Node> nodes_;
    TreeItem base_ = 0;
    TreeItem selected_ = kNoItem;
    uint64_t revision_ = 0;
};

}  // namespace vardane
