# The 2D structure preview: renderer, worker, popup commands, toolkit binding.
set(QUORVEL_PREVIEW_SOURCES
  indigo_api.cpp
  render2d.cpp
  render2d_commands.cpp
)
