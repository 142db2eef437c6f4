#include "inventory_tree.h"

#include <algorithm>
#include <cxxabi.h>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vdfe::inventory {
namespace {

constexpr size_t kDescSize = 10;
// Parents are sought with at most this many leading characters of a path.
constexpr size_t kParentSearchLimit = 255;
constexpr uint32_t kAncestorKind = 1;
constexpr uint8_t kAncestorDesc[kDescSize] = {0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0};

struct Node {
    char* path; // owned; null when the copy could not be made
    void* user_data;
    uint32_t kind;
    uint8_t desc[kDescSize];
    const velkdirectfe_nvlist_t* props;
    int32_t depth;
    int32_t parent;
};

// One callback. It must not throw; one that does anyway (a C++ callback) has
// its exception stopped here and its node's data is null, and the walk goes
// on: no exception leaves through the C interface. A callback whose thread is
// cancelled ends the walk and the thread: the unwinding passes on, releasing
// the tree and the lists on its way. It carries no exception object, so the
// handler's reference is null, which the sanitizer's null check (kept out of
// this function, and so out of any it would be inlined into) takes for a
// fault.
__attribute__((noinline, no_sanitize("null"))) void* call_back(velkdirectfe_inv_cb_t callback, const Node& node,
                                                                void* parent_data) {
    try {
        return callback(node.path, node.kind, node.desc, node.props, parent_data);
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return nullptr;
    }
}

// The node array, grown by half its capacity when an ancestor needs room,
// with an index from path to the first node that carries it.
class Tree {
public:
    ~Tree() {
        for (size_t i = 0; i < count_; ++i) std::free(nodes_[i].path);
        std::free(nodes_);
    }

    bool reserve(size_t capacity) {
        nodes_ = static_cast<Node*>(std::calloc(capacity, sizeof(Node)));
        capacity_ = capacity;
        if (nodes_ != nullptr) first_with_path_.reserve(capacity);
        return nodes_ != nullptr;
    }

    // The root: path "", depth 0, the caller's data. False without memory.
    bool add_root(void* root_data) {
        static constexpr uint8_t kZeroDesc[kDescSize] = {};
        add("", 0, kZeroDesc, nullptr);
        nodes_[0].depth = 0;
        nodes_[0].user_data = root_data;
        return nodes_[0].path != nullptr;
    }

    // Appends an object's node; one whose path cannot be copied is kept but
    // takes no part in linking or reporting.
    void add(const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props) {
        size_t index = count_++;
        Node& node = nodes_[index];
        node = Node{strdup(path), nullptr, kind, {}, props, path_depth(path), -1};
        std::memcpy(node.desc, desc, kDescSize);
        if (node.path != nullptr) first_with_path_.try_emplace(node.path, static_cast<int32_t>(index));
    }

    // Links every node to its parent path, adding missing ancestors; those
    // are appended and linked in their turn.
    void link() {
        for (size_t i = 1; i < count_; ++i) {
            if (nodes_[i].path == nullptr) continue;
            std::string_view path(nodes_[i].path);
            std::string_view searched = path.substr(0, kParentSearchLimit);
            size_t slash = searched.rfind('/');
            if (slash == std::string_view::npos) continue;
            std::string_view parent_path = searched.substr(0, slash);
            auto found = first_with_path_.find(parent_path);
            // Adding an ancestor may move the array: find the node again after it.
            int32_t parent = found != first_with_path_.end() ? found->second : add_ancestor(parent_path);
            nodes_[i].parent = parent;
        }
    }

    // Calls back level by level, in the order that reporting_order() gave.
    // Nothing here allocates, so once the first callback is made every node
    // is reported.
    void report(const std::vector<int32_t>& order, velkdirectfe_inv_cb_t callback) {
        for (int32_t index : order) {
            Node& node = nodes_[index];
            void* parent_data = node.parent >= 0 ? nodes_[node.parent].user_data : nullptr;
            node.user_data = call_back(callback, node, parent_data);
        }
    }

    // Nodes of depth 1 and more, by depth, each depth in index order: a
    // counting sort, so the cost stays linear in the number of nodes.
    std::vector<int32_t> reporting_order() const {
        int32_t deepest = 0;
        for (size_t i = 0; i < count_; ++i)
            if (nodes_[i].path != nullptr) deepest = std::max(deepest, nodes_[i].depth);
        std::vector<size_t> start(static_cast<size_t>(deepest) + 2, 0);
        for (size_t i = 0; i < count_; ++i)
            if (nodes_[i].path != nullptr && nodes_[i].depth > 0) ++start[nodes_[i].depth + 1];
        for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
        std::vector<int32_t> order(start.back());
        for (size_t i = 0; i < count_; ++i)
            if (nodes_[i].path != nullptr && nodes_[i].depth > 0)
                order[start[nodes_[i].depth]++] = static_cast<int32_t>(i);
        return order;
    }

private:
    // The new ancestor's index, or -1 when there is no room for it.
    int32_t add_ancestor(std::string_view path) {
        if (count_ + 1 >= capacity_) {
            size_t grown = capacity_ + capacity_ / 2;
            auto* larger = static_cast<Node*>(std::realloc(nodes_, grown * sizeof(Node)));
            if (larger == nullptr) return -1;
            nodes_ = larger;
            capacity_ = grown;
        }
        auto* copy = static_cast<char*>(std::malloc(path.size() + 1));
        if (copy == nullptr) return -1; // a later node needing this path tries again
        std::memcpy(copy, path.data(), path.size());
        copy[path.size()] = '\0';
        size_t index = count_++;
        Node& node = nodes_[index];
        node = Node{copy, nullptr, kAncestorKind, {}, nullptr, path_depth(copy), -1};
        std::memcpy(node.desc, kAncestorDesc, kDescSize);
        first_with_path_.try_emplace(std::string_view(copy, path.size()), static_cast<int32_t>(index));
        return static_cast<int32_t>(index);
    }

    Node* nodes_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
    std::unordered_map<std::string_view, int32_t> first_with_path_;
};

template <typename Record>
void add_objects(Tree& tree, const Record* records, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        tree.add(records[i].path, records[i].kind, records[i].desc, records[i].props);
}

} // namespace

int32_t path_depth(const char* path) noexcept {
    if (path == nullptr || std::strcmp(path, "/") == 0) return 0;
    if (path[0] == '\0') return 1;
    int32_t depth = 1;
    for (const char* p = path + 1; *p; ++p) depth += *p == '/';
    return depth;
}

int walk(const Sources& sources, velkdirectfe_inv_cb_t callback, void* root_data) {
    uint64_t objects = uint64_t{sources.fru_count} + sources.sensor_count + sources.indicator_count +
                       sources.component_count;
    if (objects == 0) return -1;
    // The tree and its reporting order are built whole before the first
    // callback, so running out of memory ends the walk before anything was
    // reported: -1 always means that no callback was made.
    std::optional<Tree> tree;
    std::vector<int32_t> order;
    try {
        tree.emplace();
        size_t nodes = static_cast<size_t>(objects) + 1; // and the root
        if (!tree->reserve(nodes + nodes / 10)) return -1;
        if (!tree->add_root(root_data)) return -1;
        add_objects(*tree, sources.frus, sources.fru_count);
        add_objects(*tree, sources.sensors, sources.sensor_count);
        add_objects(*tree, sources.indicators, sources.indicator_count);
        add_objects(*tree, sources.components, sources.component_count);
        tree->link();
        order = tree->reporting_order();
    } catch (const std::bad_alloc&) {
        return -1;
    }
    tree->report(order, callback);
    return 0;
}

} // namespace vdfe::inventory
