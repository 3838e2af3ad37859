#include "dialogs/tree_model.h"

#include <algorithm>

#include "platform/text.h"

namespace vardane {

namespace {
const std::vector<TreeItem> kNoChildren;
const std::string kNoText;
}  // namespace

TreeModel::TreeModel() {
    Clear();
}

void TreeModel::Clear() {
    // Handles are never reused: the next items count on from the last one.
    if (!nodes_.empty()) {
        base_ += static_cast<TreeItem>(nodes_.size()) - 1;
    }
    nodes_.assign(1, Node{});
    nodes_[0].alive = true;
    nodes_[0].expanded = true;
    selected_ = kNoItem;
    Touch();
}

size_t TreeModel::Index(TreeItem item) const {
    return item == kNoItem ? 0 : static_cast<size_t>(item - base_);
}

TreeModel::Node* TreeModel::Find(TreeItem item) {
    if (item != kNoItem &&
        (item <= base_ || item - base_ >= static_cast<TreeItem>(nodes_.size()))) {
        return nullptr;
    }
    Node& node = nodes_[Index(item)];
    return node.alive ? &node : nullptr;
}

const TreeModel::Node* TreeModel::Find(TreeItem item) const {
    return const_cast<TreeModel*>(this)->Find(item);
}

TreeItem TreeModel::Insert(TreeItem parent, std::string text, int icon, bool sorted) {
    if (Find(parent) == nullptr) {
        return kNoItem;
    }
    const TreeItem id = base_ + static_cast<TreeItem>(nodes_.size());
    Node node;
    node.alive = true;
    node.parent = parent;
    node.text = std::move(text);
    node.icon = icon;
    nodes_.push_back(std::move(node));

    std::vector<TreeItem>& siblings = nodes_[Index(parent)].children;
    auto where = siblings.end();
    if (sorted) {
        const std::string& mine = nodes_.back().text;
        where =
            std::upper_bound(siblings.begin(), siblings.end(), id, [&](TreeItem, TreeItem other) {
                return CompareNoCase(mine, nodes_[Index(other)].text) < 0;
            });
    }
    siblings.insert(where, id);
    Touch();
    return id;
}

void TreeModel::Kill(TreeItem item) {
    Node& node = nodes_[Index(item)];
    for (TreeItem child : node.children) {
        Kill(child);
    }
    if (selected_ == item) {
        selected_ = kNoItem;
    }
    node = Node{};
}

void TreeModel::Delete(TreeItem item) {
    Node* node = Find(item);
    if (node == nullptr || item == kNoItem) {
        return;
    }
    std::vector<TreeItem>& siblings = nodes_[Index(node->parent)].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    Kill(item);
    Touch();
}

void TreeModel::DeleteChildren(TreeItem item) {
    Node* node = Find(item);
    if (node == nullptr) {
        return;
    }
    const std::vector<TreeItem> children = std::move(node->children);
    nodes_[Index(item)].children.clear();
    for (TreeItem child : children) {
        Kill(child);
    }
    Touch();
}

bool TreeModel::Exists(TreeItem item) const {
    return item != kNoItem && Find(item) != nullptr;
}

TreeItem TreeModel::Parent(TreeItem item) const {
    const Node* node = Find(item);
    return node == nullptr ? kNoItem : node->parent;
}

const std::vector<TreeItem>& TreeModel::Children(TreeItem item) const {
    const Node* node = Find(item);
    return node == nullptr ? kNoChildren : node->children;
}

TreeItem TreeModel::FirstChild(TreeItem item) const {
    const std::vector<TreeItem>& children = Children(item);
    return children.empty() ? kNoItem : children.front();
}

int TreeModel::Depth(TreeItem item) const {
    int depth = 0;
    for (const Node* node = Find(item); node != nullptr && item != kNoItem;
         item = node->parent, node = Find(item)) {
        ++depth;
    }
    return depth;
}

const std::string& TreeModel::Text(TreeItem item) const {
    const Node* node = Find(item);
    return node == nullptr ? kNoText : node->text;
}

void TreeModel::SetText(TreeItem item, std::string text) {
    if (Node* node = Find(item); node != nullptr && item != kNoItem) {
        node->text = std::move(text);
        Touch();
    }
}

int TreeModel::Icon(TreeItem item) const {
    const Node* node = Find(item);
    return node == nullptr ? -1 : node->icon;
}

void TreeModel::SetIcon(TreeItem item, int icon) {
    if (Node* node = Find(item); node != nullptr && item != kNoItem) {
        node->icon = icon;
        Touch();
    }
}

bool TreeModel::IsExpanded(TreeItem item) const {
    const Node* node = Find(item);
    return node != nullptr && node->expanded;
}

void TreeModel::Expand(TreeItem item, bool expand) {
    if (Node* node = Find(item); node != nullptr && item != kNoItem) {
        node->expanded = expand;
        Touch();
    }
}

void TreeModel::SortChildren(TreeItem item) {
    Node* node = Find(item);
    if (node == nullptr) {
        return;
    }
    std::stable_sort(node->children.begin(), node->children.end(), [&](TreeItem a, TreeItem b) {
        return CompareNoCase(nodes_[Index(a)].text, nodes_[Index(b)].text) < 0;
    });
    Touch();
}

void TreeModel::Select(TreeItem item) {
    selected_ = Exists(item) ? item : kNoItem;
    Touch();
}

std::vector<TreeItem> TreeModel::AllItems() const {
    std::vector<TreeItem> out;
    std::vector<TreeItem> stack(nodes_[0].children.rbegin(), nodes_[0].children.rend());
    while (!stack.empty()) {
        const TreeItem item = stack.back();
        stack.pop_back();
        out.push_back(item);
        const std::vector<TreeItem>& children = nodes_[Index(item)].children;
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return out;
}

}  // namespace vardane
