# Reproducible builds: two builds of the same sources in different directories give the same
# bytes. The source and build directories are written into the objects (debug information,
# __FILE__) as "." instead of their absolute paths. (GCC takes the last matching map, so the
# build directory, which may lie below the source directory, comes second.) The link's build ID
# (-Wl,--build-id=sha1) is a hash of the output and so stays the same too.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
