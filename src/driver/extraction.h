// The extraction run: what an archive does when it is executed.
#pragma once

namespace sxpak {

// Unpacks the archive at path; 0 on success, anything else is a failure.
[[nodiscard]] int run_extraction(const char* archive_path);

// Expands %o and %p in a template; a malloc'ed text of 2048 bytes, or null
// when the result would not fit (already reported). quote_values: the output
// name and directory are single-quoted for the shell.
[[nodiscard]] char* expand_command(const char* template_text, int quote_values = 0);

// Puts every FeatureList item into the environment.
void feature_export();

}  // namespace sxpak
