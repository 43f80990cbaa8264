#include "install/install_steps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "install/modules.h"
#include "install/record.h"
#include "install/registration.h"
#include "install/removal.h"
#include "install/rollback.h"
#include "install/setup_lock.h"
#include "install/setup_runtime.h"
#include "install/user_path.h"
#include "install/user_path_store.h"
#include "payload/module_table.h"
#include "payload/runtime_payload.h"
#include "support/child_process.h"
#include "support/json.h"
#include "support/layout.h"
#include "support/output.h"
#include "tests/common/console_capture.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

using namespace tarntest;

std::string install(const Layout& layout, const Path& source) {
    return quietly([&] { return install_runtime(layout, source); });
}

TEST(InstallRuntime, WritesTheRecordAndRefusesAMissingSource) {
    InstallSandbox box;
    ASSERT_EQ(install(box, box.make_file("runtime.bin", "runtime v1"))[0], '0');
    EXPECT_TRUE(path_exists(box.logs));
    const Path missing = box.scratch() / "nowhere" / "tarn.exe";  // nothing printed or snapshotted
    EXPECT_EQ(install(box, missing),
              "10 tarnwick setup: Runtime payload is missing: " + path_text(missing) + " | ");
    EXPECT_FALSE(path_exists(box.versions / "previous.txt"));

    const std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
    EXPECT_EQ(std::regex_replace(file_bytes(box.install_record), stamp, "T"),
              "{\n  \"cli\": \"1.0.0\",\n  \"installed_at\": \"T\",\n  \"module\": \"1.2.4\",\n"
              "  \"runtime\": \"1.0.0\",\n  \"version\": \"1.2.4\"\n}");
    std::string failure;
    ASSERT_TRUE(remove_tree(box.config, failure) && ensure_dir(box.install_record));
    EXPECT_EQ(read_installed_version(box), "") << "a folder in place of the record";
    ASSERT_TRUE(remove_tree(box.config, failure) && write_file(box.config, "in the way"));
    EXPECT_EQ(write_install_record(box).message, "Could not write install.json");
}

// record: install.json as found; version: the installed version read from it.
TARN_ROWS(InstallRecord, "install/install.json", "records");
TEST_P(InstallRecord, GivesTheInstalledVersion) {
    InstallSandbox box;
    ASSERT_TRUE(ensure_dir(box.config) &&
                write_file(box.install_record, row.get_string("record", "")));
    EXPECT_EQ(read_installed_version(box), row.get_string("version", ""));
}

// beside: a tarn.exe beside the setup, which is also the current folder;
// payload: the built-in one (absent: none built in); known_path: whether the
// setup knows its own folder; cache_blocked: the cache folder is a file;
// outcome: the error, the runtime's bytes and where it is.
TARN_ROWS(SetupRuntime, "install/install.json", "setup_runtime");
TEST_P(SetupRuntime, FindsTheRuntimeBesideTheSetupOrInsideIt) {
    InstallSandbox box;
    const Path setup_dir = box.scratch() / "download";
    ASSERT_TRUE(ensure_dir(setup_dir) &&
                (!flag(row, "beside") || write_file(setup_dir / "tarn.exe", "beside runtime")));
    ASSERT_TRUE(!flag(row, "cache_blocked") ||
                (ensure_dir(box.root) && write_file(box.cache, "file")));
    ScopedCurrentDir cwd(setup_dir);
    Path runtime = "untouched";
    const Error e =
        row.find("payload").kind == JsonKind::String
            ? locate_setup_runtime(box, runtime, flag(row, "known_path") ? setup_dir : Path(),
                                   row.get_string("payload", ""))
            : locate_setup_runtime(box, runtime);  // this build embeds no payload
    const std::string where = runtime == setup_dir / "tarn.exe"           ? "beside"
                              : runtime == box.cache / "bundled-tarn.exe" ? "cache"
                                                                          : path_text(runtime);
    EXPECT_EQ(error_text(e) + " " + file_bytes(runtime) + " " + where,
              row.get_string("outcome", ""));
    EXPECT_EQ(path_exists(box.root), where == "cache");
}

// A stale .new is overwritten; a target that can be neither overwritten nor
// moved aside (folders in both places) leaves the new copy for the user; a
// read-only folder takes no copy at all.
TEST(PlaceFile, FailuresNameTheFileAndStaleCopiesAreOverwritten) {
    InstallSandbox box;
    const Path source = box.make_file("src", "fresh"), bin = box.scratch() / "bin";
    const Path target = bin / "tarn.exe", fresh = bin / "tarn.exe.new";
    ASSERT_TRUE(ensure_dir(bin) && write_file(fresh, "stale"));
    ASSERT_TRUE(place_file(source, target).ok());
    EXPECT_EQ(file_bytes(target) + file_bytes(fresh), "fresh<missing>");
    // A target already holding the bytes (a rollback after a refused swap)
    // leaves the copy the refusal offered alone.
    ASSERT_TRUE(write_file(fresh, "offered") && place_file(source, target).ok());
    EXPECT_EQ(file_bytes(fresh), "offered");
    ASSERT_TRUE(delete_file(fresh) && delete_file(target) && ensure_dir(target / "in") &&
                ensure_dir(bin / "tarn.exe.old" / "in"));
    EXPECT_EQ(place_file(source, target).message,
              "Could not replace " + path_text(target) +
                  " (file is in use). Close running bots, then copy " + path_text(fresh) +
                  " over it.");
    EXPECT_EQ(file_bytes(fresh), "fresh");
    set_read_only(bin, true);
    EXPECT_EQ(place_file(source, bin / "other.exe").message, "Could not install other.exe");
    set_read_only(bin, false);
}

// Windows refuses to overwrite a running program's file but lets it be
// renamed; the renamed file stays until the program ends, and so does the
// installation: its removal fails (natively it succeeds) with the PATH entry
// already gone. Once the program has ended it goes, read-only parts
// included, its neighbour stays, and removing nothing is no failure.
TEST(InstallRuntime, ReplacesARunningRuntimeWhichHoldsTheRemovalBack) {
    InstallSandbox box;
    const Path runtime = box.bin / "tarn.exe", old = box.bin / "tarn.exe.old";
    ASSERT_TRUE(copy_with_parents(test_tool("test_runtime"), runtime));
    ChildProcess bot;
    Error error;
    ChildProcess::start(bot, error, runtime, {native_from_text("30")}, {}, false);
    ASSERT_TRUE(ChildProcess::running(bot)) << error.message;
    ASSERT_EQ(install(box, box.make_file("src", "new runtime"))[0], '0');
    EXPECT_TRUE(ChildProcess::running(bot));
    EXPECT_EQ(file_bytes(runtime) + file_bytes(box.bin / "tarn.exe.new"), "new runtime<missing>");
    EXPECT_TRUE(!path_exists(old) || deletion_scheduled(old));

    const Path neighbour = box.root.parent_path() / "OtherProgram" / "keep.txt";
    ASSERT_TRUE(copy_with_parents(box.make_file("f", "bytes"), neighbour));
    for (const Path& file : {runtime, box.modules / "d" / "init.lua", box.tools / "ffmpeg.exe"}) {
        ASSERT_TRUE(copy_with_parents(neighbour, file));
        set_read_only(file, true);
    }
    set_read_only(box.modules / "d", true);
    const std::string held = error_text(remove_installation(box));
    EXPECT_FALSE(path_list_contains(stored_user_path().data, box.bin.native()));
    EXPECT_EQ(held == "0  : ", !path_exists(old)) << held;
    EXPECT_TRUE(held == "0  : " ||
                held == "10 tarnwick setup: Could not remove " + path_text(box.root))
        << held;
    ChildProcess::terminate(bot);
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(remove_installation(box).ok()) << "run " << run;
        EXPECT_TRUE(!path_exists(box.root) && path_exists(neighbour));
    }
}

// previous: versions\previous.txt (absent: none); copy: whether
// versions\1.2.4\tarn.exe exists; error ({copy}: that file; absent: the
// rollback goes ahead).
TARN_ROWS(RollbackSnapshot, "install/install.json", "snapshots");
TEST_P(RollbackSnapshot, MustBeUsable) {
    InstallSandbox box;
    const Path copy = box.versions / "1.2.4" / "tarn.exe";
    ASSERT_TRUE(ensure_dir(copy.parent_path()) && (!flag(row, "copy") || write_file(copy, "old")));
    ASSERT_TRUE(row.find("previous").kind == JsonKind::Null ||
                write_file(box.versions / "previous.txt", row.get_string("previous", "")));
    const std::string error = row.get_string("error", "");
    const std::string said = quietly([&] { return rollback(box); });
    EXPECT_EQ(error.empty() ? said.substr(0, said.find('\n') + 1) : said,
              error.empty()
                  ? "0  :  | Rolling back to Tarnwick 1.2.4...\n"
                  : "10 tarnwick setup: " + replace_all(error, "{copy}", path_text(copy)) + " | ");
    EXPECT_EQ(file_bytes(box.bin / "tarn.exe"), error.empty() ? "old" : "<missing>");
}

// version: from the record or from previous.txt, leading out of the versions
// folder ({outside}: an absolute path): the install goes on without a snapshot, the
// rollback refuses, and a tarn.exe waiting where the version leads is never
// installed.
TARN_ROWS(RollbackEscape, "install/install.json", "escapes");
TEST_P(RollbackEscape, IsRefused) {
    InstallSandbox box;
    const std::string version = replace_all(row.get_string("version", ""), "{outside}",
                                            path_text(box.scratch() / "escaped"));
    const Path elsewhere = box.versions / native_from_text(version);
    Json record;
    record["version"] = version;
    ASSERT_TRUE(copy_with_parents(box.make_file("old", "old"), box.bin / "tarn.exe"));
    ASSERT_TRUE(ensure_dir(box.config) && write_file(box.install_record, record.dump(false)));
    const std::string refused = "\"" + version + "\" is not a version";
    EXPECT_EQ(snapshot_installed_runtime(box, version).message,
              "No rollback snapshot taken: " + refused);
    ASSERT_EQ(install(box, box.make_file("new", "new"))[0], '0');
    EXPECT_FALSE(path_exists(elsewhere));

    ASSERT_TRUE(copy_with_parents(box.make_file("foreign", "foreign"), elsewhere / "tarn.exe"));
    ASSERT_TRUE(write_file(box.versions / "previous.txt", version));
    EXPECT_EQ(quietly([&] { return rollback(box); }),
              "10 tarnwick setup: Rollback refused: " + refused + " | ");
    EXPECT_EQ(file_bytes(box.bin / "tarn.exe"), "new");
}

// where: a link to a folder or to a file outside, inside the installation
// (empty: the installation folder itself is a link); said: what the removal
// says of it under Wine, after "Could not remove <root> (<link> " ({root}: the
// installation folder). Natively all are symbolic links, deleted as links.
// Under Wine they are Unix links: one to a folder shows as a reparse point that
// Wine cannot delete, one to a file as a plain file whose final path lies
// outside; both are left alone and named.
TARN_ROWS(RemovalLink, "install/install.json", "links");
TEST_P(RemovalLink, NeverLeadsOutside) {
    const std::string where = row.get_string("where", "");
    InstallSandbox box;
    const Path outside = box.scratch() / "outside",
               link = where.empty() ? box.root : box.root / Path(where).make_preferred();
    ASSERT_TRUE(copy_with_parents(box.make_file("f", "keep"), outside / "keep.txt"));
    ASSERT_TRUE(where.empty() || copy_with_parents(outside / "keep.txt", box.bin / "tarn.exe"));
    ASSERT_TRUE(ensure_dir(link.parent_path()) &&
                make_link(link, where.starts_with("b") ? outside / "keep.txt" : outside));
    const std::string root = path_text(box.root), message = remove_installation(box).message;
    const std::string left = "Could not remove " + root + " (" + path_text(link) + " " +
                             replace_all(row.get_string("said", ""), "{root}", root);
    EXPECT_EQ(file_bytes(outside / "keep.txt"), "keep");
    EXPECT_TRUE(message == left || (!where.empty() && message.empty())) << message;
    EXPECT_NE(path_exists(box.root), message.empty());
    EXPECT_FALSE(path_exists(box.bin / "tarn.exe"));
}

// A full disk or a kill at any placement of an install: no file of the
// installation is ever cut, a full disk keeps the report's fixed words on the
// console and says in the log where and why, naming no file in use, and the
// next run, seeing the damage, installs again and completes. update: over a
// working install of "old" (else over nothing); stop: the process is killed
// (else the disk is full from there on); at: the placement counted from 0
// (update: 0 and 1 are the rollback snapshot; then the runtime, the alias, the
// pending mark, each module and its versions copy in turn, the record);
// bytes: that many into it; hits: what that is.
TARN_ROWS(InstallFault, "install/install.json", "faults");
TEST_P(InstallFault, LeavesNoCutFileAndTheNextRunRepairs) {
    InstallSandbox box;
    const bool update = flag(row, "update");
    ASSERT_TRUE(!update || install(box, box.make_file("old", "old runtime"))[0] == '0');
    const bool stop = flag(row, "stop");
    const Path source = box.make_file("new", "new runtime"), log = box.scratch() / "setup.log";
    open_log_file(log);
    set_placement_fault({stop ? PlacementFault::kStop : PlacementFault::kFail,
                         static_cast<std::uint64_t>(row.get_int("at", 0)),
                         static_cast<std::uint64_t>(row.get_int("bytes", 0))});
    const std::string failed = install(box, source);
    set_placement_fault({});
    close_log_file();
    ASSERT_EQ(failed.substr(0, 3), "10 ");
    // (A killed setup says nothing; its partial copy is what matters.)
    const std::string logged = file_bytes(log);
    EXPECT_TRUE(stop || (failed.find(disk_full_text()) == std::string::npos &&
                         logged.find(": " + path_text(box.root)) != std::string::npos &&
                         logged.find(disk_full_text() + "; ") != std::string::npos &&
                         logged.find(" bytes free") != std::string::npos &&
                         (failed + logged).find("file is in use") == std::string::npos))
        << failed << logged;
    for (const std::string& name : files_below(box.root)) {
        const std::string bytes = file_bytes(box.root / Path(name).make_preferred());
        if (name.ends_with(".new")) {
            EXPECT_TRUE(stop) << name << " left by a failed write";
        } else if (name.starts_with("bin/")) {
            EXPECT_TRUE(bytes == "old runtime" || bytes == "new runtime") << name;
        } else if (!name.ends_with("install.pending")) {
            EXPECT_FALSE(bytes.empty()) << name;
        }
    }
    EXPECT_TRUE(!update || is_installed(box));
    remove_leftovers(box);
    if (!is_installed(box) || needs_repair(box)) {
        ASSERT_EQ(install(box, box.make_file("bundled", "bundled runtime"))[0], '0');
    }
    EXPECT_FALSE(needs_repair(box));
    for (const ModuleEntry& m : kModuleTable) {
        ASSERT_EQ(file_bytes(box.modules / Path(m.path).make_preferred()),
                  file_bytes(source_path(std::string("payload/lua/") + m.path)));
    }
    EXPECT_EQ(read_installed_version(box), "1.2.4");
    for (const std::string& name : files_below(box.root))
        EXPECT_FALSE(name.ends_with(".new") || name.ends_with(".old")) << name;
}

// Another setup holds the lock for 3 s: a wait of 1 s gives up, a longer one
// gets it once the other has ended; each says once that it waits.
TEST(SetupLock, ASecondSetupWaitsForTheFirstWithinItsLimit) {
    InstallSandbox box;
    const Path held = box.scratch() / "held";
    ChildProcess other;
    Error error;
    ChildProcess::start(other, error, test_tool("hold_setup_lock"),
                        {held.native(), native_from_text("3000"), box.root.parent_path().native()},
                        {}, false);
    for (int i = 0; i < 400 && !path_exists(held); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ASSERT_TRUE(path_exists(held));
    const std::string waiting = "Another Tarnwick setup is running; waiting for it to finish...\n";
    EXPECT_EQ(quietly([&] { return hold_setup_lock(box, 1000); }),
              "10 tarnwick setup: Another Tarnwick setup is still running after 1 s; run "
              "Tarnwick-Setup.exe again once it has finished | " +
                  waiting);
    EXPECT_EQ(quietly([&] { return hold_setup_lock(box, 20000); }), "0  :  | " + waiting);
}

// The entry's other values, the setup's copy and their removal are compared
// whole by the end-to-end scenarios; they show the size only as a bound and
// the shortcut only by its name.
TEST(Registration, SizeInWholeKibAndTheShortcutsConsole) {
    InstallSandbox box;
    {
        ConsoleCapture quiet;
        ASSERT_TRUE(install_runtime(box, box.make_file("rt", "runtime")).ok());
        ASSERT_TRUE(register_installation(box).ok());
    }
    std::uintmax_t bytes = 0;
    for (const std::string& file : files_below(box.root)) {
        bytes += std::filesystem::file_size(box.root / Path(file).make_preferred());
    }
    std::uint32_t kib = 0;
    for (const EntryValue& value : platform::read_uninstall_entry())
        if (value.name == "EstimatedSize") kib = value.number;
    EXPECT_EQ(kib, (bytes + 1023) / 1024);

    platform::Shortcut shortcut;
    ASSERT_TRUE(platform::read_shortcut(platform::start_menu_shortcut_path(), shortcut));
    EXPECT_EQ(shortcut.target.filename().string(), "cmd.exe");
    EXPECT_EQ(path_text(Path(shortcut.arguments))
                  .rfind("/k \"set PATH=" + path_text(box.bin) + ";%PATH% && ", 0),
              0u);
}

NativeString N(const std::string& text) {
    return native_from_text(text);
}

// list, folder; holds: whether the list names the folder.
TARN_ROWS(UserPathList, "install/user_path.json", "lists");
TEST_P(UserPathList, Matches) {
    EXPECT_EQ(path_list_contains(N(row.get_string("list", "")), N(row.get_string("folder", ""))),
              flag(row, "holds"));
}

// op: add or remove D:\B; stored, type: the value before (type 0: none);
// after, type_after: the value then; failure: the start of the error (none:
// success). {long}: some 10 000 characters of entries; {N}: one entry of N
// characters. Adding also puts the folder first in this process's PATH, once.
TARN_ROWS(UserPathChange, "install/user_path.json", "changes");
TEST_P(UserPathChange, RewritesTheStoredValue) {
    InstallSandbox box;
    ScopedEnv path("PATH", N("C:\\Windows"));
    const auto expand = [](std::string field) {
        std::string longer = "C:\\0";
        for (int i = 1; longer.size() < 10000; ++i)
            longer += ";C:\\Rather\\Long\\Folder" + std::to_string(i);
        field = replace_all(field, "{long}", longer);
        if (field.starts_with("{3")) {
            const std::size_t close = field.find('}');
            field = "C:\\" + std::string(std::stoul(field.substr(1, close - 1)) - 3, 'x') +
                    field.substr(close + 1);
        }
        return N(field);
    };
    ASSERT_TRUE(store_user_path({expand(row.get_string("stored", "")),
                                 static_cast<std::uint32_t>(row.get_int("type", 0))}));
    const bool add = row.get_string("op", "") == "add";
    const std::string failure = row.get_string("failure", "");
    for (int run = 0; run < (add ? 2 : 1); ++run) {
        const Error e = add ? add_to_user_path(N("D:\\B")) : remove_from_user_path(N("D:\\B"));
        EXPECT_EQ(e.message.substr(0, failure.size()), failure) << e.message;
        EXPECT_EQ(e.ok(), failure.empty());
    }
    const UserPathValue after = stored_user_path();
    EXPECT_EQ(after.data, expand(row.get_string("after", "")));
    EXPECT_EQ(after.type, row.get_int("type_after", 0));
    const bool added = add && failure.empty();
    EXPECT_EQ(get_env("PATH").value_or(NativeString()),
              N(added ? "D:\\B;C:\\Windows" : "C:\\Windows"));
}

}  // namespace
}  // namespace tarncore
