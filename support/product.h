// Addresses on the product's own web host, fixed at build time.
#pragma once

namespace tarncore {

inline constexpr char kProductHost[] = "tarnwick.dev";
/// The built-in update service; TARNWICK_UPDATE_API replaces it.
inline constexpr char kUpdateServiceUrl[] = "https://tarnwick.dev/api/tarnwick/version";
/// The documentation, also the docs_url of a release manifest without one.
inline constexpr char kDocsUrl[] = "https://tarnwick.dev/docs/";

}  // namespace tarncore
