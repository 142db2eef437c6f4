// tree, components, associations, platform.
#include <fmt/format.h>

#include "commands.h"
#include "calls.h"
#include "text_format.h"

namespace velk::cli {
namespace {

void add_tree(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("tree", "the whole inventory as a tree, by path");
    auto properties = std::make_shared<bool>(false);
    cmd->add_flag("-p,--properties", *properties, "show each node's properties");
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx, properties] {
        TreeNode root = fetch_tree();
        print(ctx, tree_text(root, *properties), to_json(root));
    });
}

void add_associations(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("associations", "entity associations: all, or the one of entity KEY0 KEY1");
    struct Args {
        std::optional<unsigned> key0, key1;
    };
    auto args = std::make_shared<Args>();
    auto* key0 = cmd->add_option("key0", args->key0, "entity id (0x.. for hex)")->check(CLI::Range(0, 255));
    auto* key1 = cmd->add_option("key1", args->key1, "entity instance")->check(CLI::Range(0, 255));
    key0->needs(key1);
    key1->needs(key0);
    add_json_flag(cmd, ctx);
    add_table_flags(cmd, ctx);
    on_run(cmd, ctx, [&ctx, args] {
        std::vector<AssociationDesc> found;
        if (args->key0)
            found.push_back(fetch_association(static_cast<uint8_t>(*args->key0), static_cast<uint8_t>(*args->key1)));
        else
            found = fetch_associations();
        print(ctx, association_table(found, ctx.style), args->key0 ? to_json(found.front()) : json_array(found));
    });
}

void add_platform(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("platform", "the platform's names");
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx] {
        PlatformNames names = fetch_platform_names();
        print(ctx, platform_text(names), to_json(names));
    });
}

} // namespace

void add_inventory_commands(CLI::App& app, Context& ctx) {
    add_tree(app, ctx);
    add_platform(app, ctx);
    add_list_command(app, ctx, "components", "every component", fetch_components, component_table);
    add_associations(app, ctx);
}

} // namespace velk::cli
