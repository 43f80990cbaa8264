#include "install/user_path.h"

#include <string>

#include "install/user_path_store.h"

namespace tarncore {
namespace {

using Char = NativeString::value_type;

NativeString ascii_lower(NativeString s) {
    for (Char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<Char>(c - 'A' + 'a');
    }
    return s;
}

void trim_separators(NativeString& entry) {
    while (!entry.empty() && (entry.back() == '\\' || entry.back() == '/')) entry.pop_back();
}

// Calls fn(entry) for each ';'-separated entry, the last one included.
template <typename Fn>
void for_each_entry(const NativeString& list, Fn fn) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = list.find(Char(';'), start);
        if (end == NativeString::npos) {
            fn(list.substr(start));
            return;
        }
        fn(list.substr(start, end - start));
        start = end + 1;
    }
}

// A missing value (type 0) reads as an empty list.
bool is_text_type(std::uint32_t type) {
    return type == 0 || type == kRegSz || type == kRegExpandSz;
}

NativeString process_path() {
    std::optional<NativeString> value = get_env("PATH");
    if (!value) return {};
    while (!value->empty() && value->back() == Char(0)) value->pop_back();
    return *value;
}

}  // namespace

bool path_list_contains(const NativeString& list, const NativeString& folder) {
    const NativeString wanted = ascii_lower(folder);
    bool found = false;
    for_each_entry(list, [&](NativeString entry) {
        trim_separators(entry);
        if (!found && !entry.empty() && ascii_lower(entry) == wanted) found = true;
    });
    return found;
}

Error add_to_user_path(const NativeString& folder) {
    std::unique_ptr<UserPathStore> store = make_user_path_store();
    if (!store->open()) {
        return Error(kErrPolicy, "tarnwick", "setup",
                     "Could not open the user Environment registry key");
    }
    UserPathValue value = store->read();
    // Any other type (REG_MULTI_SZ, binary) is not a list Windows reads as
    // PATH; rewriting it as one would hide or garble the user's entries.
    if (!is_text_type(value.type)) {
        store->close();
        return Error(kErrPolicy, "tarnwick", "setup",
                     "The user PATH is not a REG_SZ or REG_EXPAND_SZ value (registry type " +
                         std::to_string(value.type) + "); it was left unchanged. Add " +
                         path_text(Path(folder)) + " to it by hand.");
    }
    std::uint32_t type = value.type == kRegSz ? kRegSz : kRegExpandSz;
    if (!path_list_contains(value.data, folder)) {
        NativeString updated = value.data;
        if (!updated.empty() && updated.back() != Char(';')) updated.push_back(Char(';'));
        updated += folder;
        if (updated.size() > kMaxUserPathLength) {
            store->close();
            return Error(kErrPolicy, "tarnwick", "setup",
                         "Adding " + path_text(Path(folder)) +
                             " would make the user PATH longer than 32767 characters; it was "
                             "left unchanged");
        }
        if (!store->write(updated, type)) {
            store->close();
            return Error(kErrPolicy, "tarnwick", "setup", "Could not write the user PATH");
        }
    }
    store->close();
    store->broadcast();

    // Programs this setup starts later inherit its environment: put the
    // folder first there, so they find the new runtime before any other.
    NativeString current = process_path();
    if (!path_list_contains(current, folder)) {
        NativeString updated = folder;
        if (!current.empty()) {
            updated.push_back(Char(';'));
            updated += current;
        }
        (void)set_env("PATH", updated);
    }
    return Error();
}

Error remove_from_user_path(const NativeString& folder) {
    std::unique_ptr<UserPathStore> store = make_user_path_store();
    if (!store->open()) return Error();
    UserPathValue value = store->read();
    if (!is_text_type(value.type)) {
        store->close();
        return Error();
    }
    const NativeString unwanted = ascii_lower(folder);
    NativeString output;
    for_each_entry(value.data, [&](NativeString entry) {
        trim_separators(entry);
        if (entry.empty() || ascii_lower(entry) == unwanted) return;
        if (!output.empty()) output.push_back(Char(';'));
        output += entry;
    });
    (void)store->write(output, value.type != 0 ? value.type : kRegExpandSz);
    store->close();
    store->broadcast();
    return Error();
}

}  // namespace tarncore
