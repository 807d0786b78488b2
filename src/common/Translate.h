#pragma once

// Every text shown to the user goes through _("English text"). The English
// text is the gettext msgid; each library and program has its own text domain,
// set by ardanto_text_domain() in its CMakeLists.txt.

#include <QString>

namespace ardanto {
// Looks msgid up in the catalogue of the domain for the active language.
QString TranslateText(const char* domain, const char* msgid);
} // namespace ardanto

#ifndef ARDANTO_TEXT_DOMAIN
#define ARDANTO_TEXT_DOMAIN "ardanto-lib"
#endif

#define _(text) ::ardanto::TranslateText(ARDANTO_TEXT_DOMAIN, text)
// Marks a text for extraction where it is translated later (tables of texts).
#define N_(text) text
