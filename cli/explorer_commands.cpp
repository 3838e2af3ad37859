// vardane-cli ls and sites: folder listings of FTP sites and the saved site
// list of the site explorer.
#include <CLI/CLI.hpp>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "app/owner_runtime.h"
#include "cli/task_command.h"
#include "dialogs/message_box.h"
#include "explorer/folder_listing.h"
#include "explorer/list_line.h"
#include "explorer/site_list.h"
#include "platform/display_text.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/display_address.h"

namespace vardane {

namespace {

// A name as one field of a tab-separated line.
std::string PrintableName(std::string_view name) {
    return DisplayText(name, false);
}

std::string WithSlash(std::string text) {
    if (!text.ends_with('/')) {
        text += '/';
    }
    return text;
}

class LsCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd = app.add_subcommand(
            "ls", "List an FTP folder: type (d, -, l), size, date, name, tab-separated");
        cmd->add_option("URL", target_,
                        "ftp://[user[:password]@]host[:port]/path/, or the PATH with --site");
        cmd->add_option("--site", site_, "A saved site (see sites)")->type_name("NAME");
        cmd->add_flag("--urls", urls_, "Print the address of every file and folder instead");
        return cmd;
    }
    std::optional<int> CheckUsage(CliIo& io) override {
        if (!site_ && target_.empty()) {
            io.Err("vardane-cli ls: give an ftp:// address or --site NAME\n");
            return kStatusUsage;
        }
        return std::nullopt;
    }
    std::optional<int> Run(CliEnv& env) override {
        AppContext& ctx = env.rt.Context();
        std::string url;
        std::string folder;  // the plain server path that is listed
        SiteAddress site;
        if (site_) {
            const std::vector<SiteEntry> sites = LoadSites(ctx);
            const int n = FindSite(sites, *site_);
            if (n == 0) {
                env.io.Err("vardane-cli: no site '" + *site_ + "'\n");
                return kStatusFailed;
            }
            url = sites[static_cast<size_t>(n - 1)].Url;
        } else {
            url = target_;
            if (!ParseSiteUrl(url, site, true) && ParseSiteUrl(url + "/", site, true)) {
                url += '/';
            }
        }
        if (!ParseSiteUrl(url, site, true)) {
            env.io.Err("vardane-cli: not an FTP address: " +
                       DisplayText(MaskAddressForDisplay(url)) + "\n");
            return kStatusUsage;
        }
        // A site lists from its own folder; a PATH typed after --site is a
        // plain name, below that folder unless it starts with "/".
        folder = PercentDecode(site.path);
        if (site_ && !target_.empty()) {
            folder = target_.starts_with('/') ? target_ : folder + target_;
        }
        folder = WithSlash(folder);
        // The listing waits on the network: it runs beside the loop, which
        // serves everybody else meanwhile.
        env.rt.AddJob(std::make_unique<ListingJob>(env.io, ctx, url, site, folder, urls_), nullptr);
        return std::nullopt;
    }

  private:
    class ListingJob : public CliJob {
      public:
        ListingJob(CliIo& io, AppContext& ctx, std::string url, SiteAddress site,
                   std::string folder, bool urls)
            : CliJob(io),
              url_(std::move(url)),
              site_(std::move(site)),
              folder_(std::move(folder)),
              urls_(urls) {
            thread_ = std::thread([this, &ctx] {
                FolderListing listing = ListFolder(ctx, url_, EncodeUrlPath(folder_), &cancel_);
                std::lock_guard lock(mutex_);
                listing_ = std::move(listing);
            });
        }
        ~ListingJob() override {
            cancel_ = true;
            thread_.join();
        }
        std::optional<int> Result(OwnerRuntime& /*rt*/) override {
            if (interrupted) {
                cancel_ = true;
                return kStatusInterrupted;
            }
            std::lock_guard lock(mutex_);
            if (!listing_) {
                return std::nullopt;
            }
            if (!listing_->Ok) {
                io.Err("vardane-cli: " +
                       DisplayText(MaskAddressForDisplay(EntryUrl(site_, folder_, "", true))) +
                       ": " + DisplayText(listing_->error) + "\n");
                return kStatusFailed;
            }
            Print(io, *listing_, site_, folder_, urls_);
            return kStatusOk;
        }

      private:
        std::string url_;
        SiteAddress site_;
        std::string folder_;  // the plain server path that is listed
        bool urls_;
        std::atomic<bool> cancel_{false};
        std::mutex mutex_;
        std::optional<FolderListing> listing_;
        std::thread thread_;
    };

    // Lines that are no entry go to standard error, so the output stays one
    // entry a line. The server wrote them: nothing in them reaches the
    // terminal as a control. Addresses are built as the explorer's Copy URL
    // builds them, so they read back through add and a browser.
    static void Print(CliIo& io, const FolderListing& listing, const SiteAddress& site,
                      const std::string& folder, bool urls) {
        std::string out;
        for (const std::string& line : listing.lines) {
            ListEntry e;
            if (!ParseListEntry(line, e)) {
                io.Err(DisplayText(line) + "\n");
                continue;
            }
            if (e.name == "." || e.name == "..") {
                continue;
            }
            // The addresses show the login's password masked: add and get
            // take the real one back from the saved site.
            if (urls) {
                if (IsSafeEntryName(e.name)) {
                    out += DisplayText(MaskAddressForDisplay(
                               EntryUrl(site, folder, e.name, e.type == EntryType::Folder))) +
                           "\n";
                }
                continue;
            }
            out += std::string(1, static_cast<char>(e.type)) + "\t" +
                   (e.size >= 0 ? IntToText(e.size) : std::string()) + "\t" +
                   PrintableName(e.date) + "\t" + PrintableName(e.name) + "\n";
        }
        io.Out(out);
    }

    std::string target_;
    std::optional<std::string> site_;
    bool urls_ = false;
};

class SitesCommand : public TaskCommand {
  public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* cmd =
            app.add_subcommand("sites", "List the saved FTP sites (name, address), or change them");
        add_ = cmd->add_subcommand("add", "Save a new site NAME with the address URL");
        add_->add_option("NAME", name_, "Site name")->required();
        add_->add_option("URL", url_, "ftp://[user:password@]host[:port]/path/")->required();
        AddLogin(*add_);
        edit_ = cmd->add_subcommand("edit", "Change the site NAME");
        edit_->add_option("NAME", name_, "Site name")->required();
        edit_->add_option("--name", newName_, "New name");
        edit_->add_option("--url", url_, "New address");
        AddLogin(*edit_);
        edit_->add_flag("--no-login", noLogin_, "Log in anonymously from now on");
        delete_ = cmd->add_subcommand("delete", "Delete the site NAME");
        delete_->add_option("NAME", name_, "Site name")->required();
        return cmd;
    }
    std::optional<int> Run(CliEnv& env) override {
        AppContext& ctx = env.rt.Context();
        const std::vector<SiteEntry> sites = LoadSites(ctx);
        if (!add_->parsed() && !edit_->parsed() && !delete_->parsed()) {
            std::string out;
            for (const SiteEntry& s : sites) {
                out += PrintableName(s.Name) + "\t" + DisplayText(MaskedSiteUrl(s.Url)) + "\n";
            }
            env.io.Out(out);
            return kStatusOk;
        }
        const int number = FindSite(sites, name_);
        if (add_->parsed()) {
            if (number != 0) {
                env.io.Err("vardane-cli: a site named '" + name_ + "' exists\n");
                return kStatusFailed;
            }
            return Save(env, -1, {name_, url_, false, "", ""});
        }
        if (number == 0) {
            env.io.Err("vardane-cli: no site '" + name_ + "'\n");
            return kStatusFailed;
        }
        if (edit_->parsed()) {
            SiteDialogFields fields = OpenSiteDialog(ctx, number);
            fields.Name = newName_.value_or(fields.Name);
            if (!url_.empty()) {
                fields.Url = url_;
            }
            fields.Login = fields.Login && !noLogin_;
            return Save(env, number, fields);
        }
        if (ShowMessage(env.rt.Questions(), ctx.lang, ctx.lang.GetLangText("Msg_SiteDelConf"),
                        QuestionIcon::Question, QuestionButtons::YesNo,
                        QuestionAnswer::No) != QuestionAnswer::Yes) {
            return kStatusFailed;
        }
        return DeleteSite(ctx, number) ? kStatusOk : kStatusFailed;
    }

  private:
    void AddLogin(CLI::App& cmd) {
        cmd.add_option("--user", user_, "User name");
        cmd.add_option("--password", password_, "Password");
        cmd.add_flag("--password-stdin")
            ->description("Read the password from the first line of standard input");
    }

    // The dialog's OK with the fields; a login in the address counts as
    // typed into the login fields unless --user or --password replace it.
    int Save(CliEnv& env, int number, SiteDialogFields fields) {
        SiteAddress site;
        if (ParseSiteUrl(fields.Url, site) && !site.user.empty() && !user_ && !password_) {
            fields.Login = !noLogin_;
            fields.User = site.user;
            fields.Password = site.password;
        }
        if (user_ || password_) {
            fields.Login = true;
            fields.User = user_.value_or(fields.User);
            fields.Password = password_.value_or(fields.Password);
        }
        AppContext& ctx = env.rt.Context();
        const SiteDialogResult result = SaveSiteDialog(ctx, number, fields);
        if (!result.Saved) {
            env.io.Err("vardane-cli: " + ctx.lang.GetLangText(result.MessageKey) + " (" +
                       result.MessageKey + ")\n");
            return kStatusFailed;
        }
        return kStatusOk;
    }

    CLI::App* add_ = nullptr;
    CLI::App* edit_ = nullptr;
    CLI::App* delete_ = nullptr;
    std::string name_, url_;
    std::optional<std::string> newName_, user_, password_;
    bool noLogin_ = false;
};

}  // namespace

void AddExplorerCommands(std::vector<std::unique_ptr<TaskCommand>>& commands) {
    commands.push_back(std::make_unique<LsCommand>());
    commands.push_back(std::make_unique<SitesCommand>());
}

}  // namespace vardane
