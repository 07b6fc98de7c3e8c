# Settings of cmake-lint (and cmake-format) for the tree's CMake files;
# tools/lint.sh runs cmake-lint over every CMakeLists.txt and cmake/*.cmake and
# fails on any finding. Everything not set here is the tool's default.

with section("format"):
    # As in .clang-format.
    line_width = 100
    tab_size = 4

with section("lint"):
    # A variable that only its own folder's files use is named in lower case
    # (app_art_files, root), without the leading underscore the default asks
    # for; settings seen further down stay upper case (NETSONDE_APP_ART).
    private_var_pattern = '[a-z_][0-9a-z_]+'
