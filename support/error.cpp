#include "support/error.h"

namespace tarncore {

std::string format_error_report(const Error& error) {
    if (error.ok()) return {};
    std::string out = "Runtime Error\n\n";
    if (!error.module.empty()) out += "Module: " + error.module + "\n";
    if (!error.function.empty()) out += "Function: " + error.function + "\n";
    out += "\nError:\n";
    out += error.message.empty() ? std::string("Unknown error") : error.message;
    out += "\n";
    if (!error.traceback.empty()) {
        out += "\nStack traceback:\n" + error.traceback;
        if (error.traceback.back() != '\n') out += "\n";
    }
    return out;
}

Error system_error(std::uint32_t area, std::string module, std::string function,
                   std::string message, int code) {
    Error error(area, std::move(module), std::move(function), std::move(message));
    error.kind = system_error_kind(code);
    return error;
}

std::string logged_message(const Error& error) {
    return error.detail.empty() ? error.message : error.message + ": " + error.detail;
}

}  // namespace tarncore
