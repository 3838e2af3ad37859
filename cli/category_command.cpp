// vardane-cli categories: the category tree below the three folders.
#include <CLI/CLI.hpp>
#include <memory>

#include "app/command_ids.h"
#include "app/main_frame.h"
#include "app/owner_runtime.h"
#include "cli/task_command.h"
#include "dialogs/category_tree.h"
#include "settings/app_context.h"

namespace vardane {

namespace {

class CategoriesCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(
            "categories", "List the categories (text path, tab, key path), or change them");
        add_ = cmd->add_subcommand("add", "Add category NAME below PARENT");
        add_->add_option("PARENT", path_, "Text path, such as Downloading or Completed\\Music")
            ->required();
        add_->add_option("NAME", name_, "Name of the new category")->required();
        rename_ = cmd->add_subcommand("rename", "Rename the category at PATH to NAME");
        rename_->add_option("PATH", path_, "Text path, such as Downloading\\Music")->required();
        rename_->add_option("NAME", name_, "New name")->required();
        delete_ = cmd->add_subcommand("delete", "Delete the category at PATH with its children");
        delete_->add_option("PATH", path_, "Text path, such as Downloading\\Music")->required();
        return cmd;
    }

    std::optional<int> Run(CliEnv& env) override {
        MainFrame& frame = env.rt.Frame();
        const TreeModel& tree = frame.Pane().Folders();
        if (!add_->parsed() && !rename_->parsed() && !delete_->parsed()) {
            std::string text;
            for (TreeItem item : tree.AllItems()) {
                ItemTextPath path = GetItemTextPath(tree, item);
                if (path.Depth >= 2) {
                    text += path.Path + "\t" +
                            TextPathToKeyPath(env.rt.Context().registry, path.Path) + "\n";
                }
            }
            env.io.Out(text);
            return kStatusOk;
        }
        TreeItem item = FindItemByTextPath(tree, path_);
        int depth = tree.Depth(item);
        if (item == kNoItem || depth < 2 || (!add_->parsed() && depth < 3)) {
            env.io.Err("vardane-cli: no category '" + path_ + "'\n");
            return kStatusFailed;
        }
        int command = add_->parsed() ? ID_CATEGORY_NEW
                                     : (rename_->parsed() ? ID_CATEGORY_EDIT : ID_CATEGORY_DELETE);
        if (!delete_->parsed()) {
            env.rt.pendingCategoryName = name_;
        }
        bool changed = frame.View().CategoryCommand(command, item);
        env.rt.pendingCategoryName.reset();
        return changed ? kStatusOk : kStatusFailed;
    }

  private:
    CLI::App* add_ = nullptr;
    CLI::App* rename_ = nullptr;
    CLI::App* delete_ = nullptr;
    std::string path_;
    std::string name_;
};

}  // namespace

std::unique_ptr<TaskCommand> MakeCategoriesCommand() {
    return std::make_unique<CategoriesCommand>();
}

}  // namespace vardane
