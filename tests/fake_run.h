#pragma once
// Fakes that drive a search run deterministically: a scripted file system, a host whose yields can press
// the search button, a presentation that records what it was told, and fixed choices.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "file_system.h"
#include "headless_run.h"
#include "search_run.h"

namespace murako::fakes {

class FakeFileSystem : public FileSystem {
public:
    struct Node {
        bool isDirectory = false;
        int64_t length = 0;
        int64_t onDisk = 0;
        uint64_t inode = 0;  // non-zero: a file with two links, counted once on disk
        std::vector<std::string> children;  // listing order
        bool withDots = true;
        bool unlistable = false;
        bool kindFails = false;
        bool lengthFails = false;
        int listingFailsAfter = -1;  // names returned before the listing breaks off
        std::function<void()> whenListed;  // runs as the listing fetches its first name
        std::function<void()> whenOpened;  // runs as the directory is opened
        ReadFailure failure = ReadFailure::Permission;  // why any of the above fails
        std::optional<DirectoryIdentity> identity;  // none: the walk cannot tell a loop here
        bool mountRoot = false;
        bool pseudo = false;  // a pseudo file system's root: never entered
        std::string text;     // a file's first bytes, as FileBegins reads them
    };

    FakeFileSystem() { nodes_["/"].isDirectory = true; }

    FakeFileSystem& Dir(const std::string& path) { return Add(path, true, 0); }
    FakeFileSystem& File(const std::string& path, int64_t length) { return Add(path, false, length); }
    Node& At(const std::string& path) { return nodes_.at(Normal(path)); }
    // path leaves its directory's listing, as a move elsewhere takes it.
    FakeFileSystem& Remove(const std::string& path)
    {
        const std::string normal = Normal(path);
        const size_t slash = normal.rfind('/');
        auto& siblings = nodes_.at(slash == 0 ? "/" : normal.substr(0, slash)).children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), normal.substr(slash + 1)));
        return *this;
    }

    std::unique_ptr<Directory> Open(const std::string& path, ReadFailure& failure) override;
    char Separator() const override { return '/'; }  // the tests' paths are POSIX ones on every platform

    MountedTypes ReadMountedTypes() const override { return mountedTypes; }

    std::function<void(std::string_view name)> beforeEachLength;  // runs on the querying thread
    MountedTypes mountedTypes;
    std::atomic<int64_t> namesListed{0};     // every name any listing returned

    static std::string Normal(std::string path)
    {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }

private:
    class FakeDirectory;

    FakeFileSystem& Add(const std::string& path, bool isDirectory, int64_t length)
    {
        const std::string normal = Normal(path);
        const size_t slash = normal.rfind('/');
        const std::string parent = slash == 0 ? "/" : normal.substr(0, slash);
        if (!nodes_.count(parent))
            Dir(parent);
        nodes_[parent].children.push_back(normal.substr(slash + 1));
        Node& node = nodes_[normal];
        node.isDirectory = isDirectory;
        node.length = length;
        return *this;
    }

    std::unique_ptr<Directory> OpenNode(const std::string& path, ReachedBy reached, ReadFailure& failure);

    std::map<std::string, Node> nodes_;
};

class FakeFileSystem::FakeDirectory : public Directory {
public:
    FakeDirectory(FakeFileSystem& fileSystem, std::string path) : fs_(fileSystem), path_(std::move(path))
    {
        const Node& node = fs_.nodes_.at(path_);
        if (node.withDots)
            names_ = {".", ".."};
        if (!node.pseudo)
            names_.insert(names_.end(), node.children.begin(), node.children.end());
        if (node.listingFailsAfter >= 0 && static_cast<size_t>(node.listingFailsAfter) < names_.size())
            names_.resize(static_cast<size_t>(node.listingFailsAfter));
    }

    bool NextName(std::string_view& name) override
    {
        if (next_ == 0)
            if (const Node& node = fs_.nodes_.at(path_); node.whenListed)
                node.whenListed();
        if (next_ >= names_.size()) {
            const Node& node = fs_.nodes_.at(path_);
            if (node.listingFailsAfter >= 0)
                listingFailure_ = node.failure;
            return false;
        }
        current_ = names_[next_++];
        name = current_;
        fs_.namesListed.fetch_add(1, std::memory_order_relaxed);
        return true;
    }

    ReadFailure ListingFailure() const override { return listingFailure_; }

    EntryKind Kind() override
    {
        const Node* node = Child(current_);
        if (!node || node->kindFails)
            return EntryKind::Unknown;
        return node->isDirectory ? EntryKind::Directory : EntryKind::NotDirectory;
    }

    std::optional<FileFacts> Facts(ReadFailure& failure) override { return FactsOf(current_, failure); }

    std::optional<FileFacts> FactsOf(std::string_view name, ReadFailure& failure) override
    {
        if (fs_.beforeEachLength)
            fs_.beforeEachLength(name);
        const Node* node = Child(std::string(name));
        if (!node || node->lengthFails) {
            failure = node ? node->failure : ReadFailure::Vanished;
            return std::nullopt;
        }
        return FileFacts{node->length, node->onDisk, node->inode, node->inode ? 2u : 1u};
    }

    std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) override
    {
        return fs_.OpenNode(Join(std::string(name)), ReachedBy::Listing, failure);
    }

    std::optional<DirectoryIdentity> Identity() const override { return fs_.nodes_.at(path_).identity; }
    bool IsMountRoot() const override { return fs_.nodes_.at(path_).mountRoot; }
    bool IsPseudoFileSystem() const override { return fs_.nodes_.at(path_).pseudo; }
    int64_t OwnOnDisk() const override { return fs_.nodes_.at(path_).onDisk; }
    bool FileBegins(std::string_view name, std::string_view start) override
    {
        const Node* node = Child(std::string(name));
        return node && !node->isDirectory && node->text.starts_with(start);
    }

private:
    std::string Join(const std::string& name) const { return (path_ == "/" ? "/" : path_ + "/") + name; }

    const Node* Child(const std::string& name) const
    {
        auto it = fs_.nodes_.find(Join(name));
        return it == fs_.nodes_.end() ? nullptr : &it->second;
    }

    FakeFileSystem& fs_;
    std::string path_;
    std::vector<std::string> names_;
    size_t next_ = 0;
    std::string current_;
    ReadFailure listingFailure_ = ReadFailure::None;
};

inline std::unique_ptr<Directory> FakeFileSystem::Open(const std::string& path, ReadFailure& failure)
{
    return OpenNode(Normal(path), ReachedBy::GivenPath, failure);
}

inline std::unique_ptr<Directory> FakeFileSystem::OpenNode(const std::string& path, ReachedBy reached,
                                                          ReadFailure& failure)
{
    auto it = nodes_.find(path);
    if (it != nodes_.end() && it->second.whenOpened)
        it->second.whenOpened();
    if (it == nodes_.end()) {
        failure = ReadFailureFromErrno(ENOENT, reached);
        return nullptr;
    }
    if (!it->second.isDirectory || it->second.unlistable) {
        failure = it->second.isDirectory ? it->second.failure : ReadFailureFromErrno(ENOTDIR, reached);
        return nullptr;
    }
    return std::make_unique<FakeDirectory>(*this, path);
}

// A directory that passes every call on to another, for fakes that change only a few of them.
class ForwardingDirectory : public Directory {
public:
    explicit ForwardingDirectory(std::unique_ptr<Directory> inner) : inner_(std::move(inner)) {}
    bool NextName(std::string_view& name) override { return inner_->NextName(name); }
    ReadFailure ListingFailure() const override { return inner_->ListingFailure(); }
    EntryKind Kind() override { return inner_->Kind(); }
    bool LengthsListed() const override { return inner_->LengthsListed(); }
    std::optional<FileFacts> Facts(ReadFailure& failure) override { return inner_->Facts(failure); }
    std::optional<FileFacts> FactsOf(std::string_view name, ReadFailure& failure) override
    {
        return inner_->FactsOf(name, failure);
    }
    std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) override
    {
        return inner_->OpenSubdirectory(name, failure);
    }
    void SubdirectoriesOpened() override { inner_->SubdirectoriesOpened(); }
    std::optional<DirectoryIdentity> Identity() const override { return inner_->Identity(); }
    bool IsMountRoot() const override { return inner_->IsMountRoot(); }

protected:
    std::unique_ptr<Directory> inner_;
};

// A point a worker thread stops at until the test opens it.
class Gate {
public:
    void Pass()
    {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        --waiting_;
    }
    void Open() { Set(true); }
    void Close() { Set(false); }
    bool WaitForWaiter()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return waiting_ > 0; });
    }
    bool HasWaiter()
    {
        std::lock_guard lock(mutex_);
        return waiting_ > 0;
    }

private:
    void Set(bool open)
    {
        std::lock_guard lock(mutex_);
        open_ = open;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
};

// Applies posted results at once, or queues them when asked to, and runs a scripted action at chosen yields.
class ScriptedHost : public RunHost {
public:
    void PostToUi(std::function<void()> apply) override
    {
        if (queuePosts)
            queued.push_back(std::move(apply));
        else
            apply();
    }
    void ApplyQueued()
    {
        for (auto& apply : std::exchange(queued, {}))
            apply();
    }
    bool Yields() const override { return true; }
    bool WalksOnCallingThread() const override { return walksInline; }
    void DoEvents() override
    {
        if (auto it = atYield.find(++yields); it != atYield.end())
            it->second();
        if (eachYield)
            eachYield();
    }

    std::atomic<int> yields{0};  // parallel walks yield from several threads
    std::map<int, std::function<void()>> atYield;
    std::function<void()> eachYield;  // on whichever thread yields
    bool walksInline = true;
    bool queuePosts = false;
    std::vector<std::function<void()>> queued;
};

class RecordingPresentation : public SearchPresentation {
public:
    void SetSearchCaption(const std::string& caption) override { Log("A " + caption); }
    void SetExitVisible(bool visible) override { Log(visible ? "B shown" : "B hidden"); }
    void SetStatusText(const std::string& text) override { Log("C " + text); }
    void SetBusyPointer(bool busy) override { Log(busy ? "D hourglass" : "D default"); }
    void SetDivisorEnabled(bool enabled) override { Log(enabled ? "E on" : "E off"); }
    void SetUnitEnabled(bool enabled) override { Log(enabled ? "F on" : "F off"); }
    void SetDriveListEnabled(bool enabled) override { Log(enabled ? "G on" : "G off"); }
    void SetDirListEnabled(bool enabled) override { Log(enabled ? "H on" : "H off"); }
    void Refresh() override { Log("I"); }
    void SetProgressText(const std::string& text) override { progress.push_back(text); }

    std::vector<std::string> log;
    std::vector<std::string> progress;  // the second panel's texts, kept apart from the presentation steps
    std::set<std::string> failing;  // steps that throw, by their log text

private:
    void Log(const std::string& step)
    {
        log.push_back(step);
        if (failing.count(step))
            throw std::runtime_error("control unavailable");
    }
};

class FixedChoices : public SearchChoices {
public:
    std::string HighlightedPath() override
    {
        if (pathFails)
            throw std::runtime_error("no selection");
        return path;
    }
    bool DivisorIs1024() override
    {
        if (optionsFail)
            throw std::runtime_error("option unavailable");
        return divisor1024;
    }
    bool UnitIsKb() override
    {
        if (optionsFail)
            throw std::runtime_error("option unavailable");
        return unitKb;
    }

    std::string path = "/base";
    bool divisor1024 = true;
    bool unitKb = true;
    bool pathFails = false;
    bool optionsFail = false;
};

// Every row a search over path writes, as "number name bytes", walked with the given thread count.
inline std::vector<std::string> SearchRows(ResultsTable& table, std::shared_ptr<FileSystem> fileSystem,
                                           const std::string& path, int threads)
{
    std::vector<std::string> rows;
    SearchController::Options options;
    options.threads = threads;
    options.rowWritten = [&](int32_t row, const std::string& name, int64_t bytes) {
        rows.push_back(std::to_string(row) + " " + name + " " + std::to_string(bytes));
    };
    SearchWithoutWindow(table, std::move(fileSystem), path, options);
    return rows;
}

}  // namespace murako::fakes
