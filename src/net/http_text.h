// Text routines shared by the two HTTP requests: URLs taken apart, header lines split and
// their names rewritten, cookie texts merged, Base64 for proxy credentials.
//
// Header text: lines "Name: value" joined by CR LF, no final line break.
// Cookie text: items "name=value" joined by "; ".
// All texts are GBK; every scan goes through util/gbk_text.h.
#pragma once

#include <string_view>

#include "util/text_cut.h"
#include "util/types.h"

namespace newsbar {

// The verbs of the method table, by index 0..7; any other index gives "GET".
Text MethodVerb(int method);

// The word with its first byte upper-cased when that is a-z; nothing else changes.
Text CapitaliseFirst(std::string_view word);

// Name and value of a header line: before and after the first ":", trimmed; empty when the
// line has no ":".
Text HeaderName(std::string_view line);
Text HeaderValue(std::string_view line);

// Every hyphen-separated word of each header name gets an upper-case first letter; lines
// without ":" are dropped; the rest of each line is kept byte for byte.
Text NormaliseHeaderNames(std::string_view headers);

// The name of a cookie item: the text before its first "=" (all of it without one),
// trimmed.
Text CookieName(std::string_view item);

// The items of `text` split at `separator`, exact repeats removed (first kept), joined
// again.
Text RemoveDuplicateItems(std::string_view text, std::string_view separator);

// Newer cookies win over older ones of the same name; items ending "=deleted" go. The
// merged text is returned and also left in `old`.
Text MergeCookies(Text& old, std::string_view newer);

// The cookies a response sets, as cookie text: from each header line named exactly
// "Set-Cookie" (followed by ": "), the text up to its first ";", trimmed.
Text ReceivedCookies(std::string_view responseHeaders);

// The ending both request layers share: the cookies the response set, merged into
// *sendCookies when `merge` is set and there are sent cookies (which then hold the merged
// text too), and given to *receivedCookies when there is one.
void HandOverReceivedCookies(std::string_view responseHeaders, Text* sendCookies, bool merge,
                             Text* receivedCookies);

// Standard Base64 with padding, no line breaks.
Text Base64Encode(const ByteSet& bytes);

// Host of a URL in lower case ("host", or "host:port" with keepPort). A URL without a
// scheme is read as http.
Text UrlHost(std::string_view url, bool keepPort = false);

// The number after the last ":" of the host part (leading digits; none gives 0, a longer
// run than any port stops growing at 1000000), else 443 for https and 80 otherwise.
int UrlPort(std::string_view url);

// Path, query and the rest of the URL from the first "/" after the host, letter case
// kept; "/" when there is none ("/?q" when the query follows the host directly).
Text UrlPath(std::string_view url);

}  // namespace newsbar
