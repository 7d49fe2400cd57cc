#pragma once

// What a reply to a shown mail opens with: the sender's address, the subject with one "Re: ", and
// the body quoted line by line. Texts are code page 932.

#include <string>
#include <string_view>

namespace orvalink::mail {

// The address of a From value: the text inside the last "<...>" when there is one, else the value
// without a trailing "(comment)" and surrounding spaces.
std::string replyAddress(std::string_view from);

// "Re: " + subject, unless the subject already starts with "Re:" in any case (then it is kept as it
// is, so that replies to replies never pile the prefix up).
std::string replySubject(std::string_view subject);

// Every line of `body` (lines ending in LF, CR LF or a lone CR) with "> " before it, joined with
// CR LF as the compose window holds its text.
std::string quoteBody(std::string_view body);

} // namespace orvalink::mail
