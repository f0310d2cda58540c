# SPDX-License-Identifier: GPL-3.0-or-later
# The MIDI file reader on its own, for as long as there is no render subsystem to hold it: once
# render/CMakeLists.txt makes kafh_render from every source in this folder, the reader is part of
# it and this file is no longer included.
add_library(kafh_render_midi STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MidiFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiTempoMap.cpp)
target_include_directories(kafh_render_midi PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
target_link_libraries(kafh_render_midi PRIVATE $<BUILD_INTERFACE:kafh_warnings>)
