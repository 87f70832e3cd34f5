// The firmware's name in the download URL and back. Any file name must work:
// spaces, Chinese, '#' and '%' would otherwise break the URL, or make the
// camera's HTTP client ask for another name than the one served.
#pragma once

#include <string>
#include <string_view>

namespace lynx::upgrade {

// The text as one segment of a URL's path (RFC 3986): the unreserved
// characters (letters, digits, '-', '.', '_', '~') as they are, every other
// byte as %XX with upper-case hex digits.
std::string PercentEncoded(std::string_view segment);

// The target of an HTTP request (the second word of its first line) with each
// %XX decoded; empty when the first line has no second word. A '%' not
// followed by two hex digits stays as it is.
std::string DecodedRequestTarget(std::string_view request);

} // namespace lynx::upgrade
