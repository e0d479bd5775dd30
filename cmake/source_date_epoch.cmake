# The one time a build stamps into what it makes (the programs' PE headers,
# the package's dates and its cabinet's file times), so that one commit gives
# the same bytes wherever and whenever it is built:
#   - SOURCE_DATE_EPOCH from the environment when it is set (a rebuild of a
#     release passes its buildinfo's);
#   - else the time of the checkout's commit (git log -1 --format=%ct);
#   - else, in a tree that is not a git checkout, 1704067200
#     (2024-01-01 00:00:00 UTC).
#
#   halvotren_source_date_epoch(ROOT OUT_VARIABLE)
#
# The value is taken at configure time; a new commit or checkout reconfigures
# the build tree (it depends on HEAD's reflog), so the stamp follows the
# commit even when no source changed.
set(HALVOTREN_FALLBACK_EPOCH 1704067200)

function(halvotren_source_date_epoch root out)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH must be whole seconds since 1970, not '$ENV{SOURCE_DATE_EPOCH}'")
    endif()
    set(${out} "$ENV{SOURCE_DATE_EPOCH}" PARENT_SCOPE)
    return()
  endif()
  # Only the tree's own repository counts: a tree unpacked inside some other
  # checkout is not that checkout's commit.
  if(NOT EXISTS "${root}/.git")
    set(${out} ${HALVOTREN_FALLBACK_EPOCH} PARENT_SCOPE)
    return()
  endif()
  # A checkout git cannot read (not installed, or owned by another user)
  # would silently stamp another time, so it stops the build instead.
  find_program(GIT git)
  if(NOT GIT)
    message(FATAL_ERROR "${root} is a git checkout: stamping the build with its commit's time needs git")
  endif()
  execute_process(COMMAND ${GIT} -C "${root}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch ERROR_VARIABLE error RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0 OR NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "Cannot read the time of ${root}'s commit: ${error}")
  endif()
  execute_process(COMMAND ${GIT} -C "${root}" rev-parse --path-format=absolute --git-path logs/HEAD
                  OUTPUT_VARIABLE reflog OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(reflog AND EXISTS "${reflog}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${reflog}")
  endif()
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()
