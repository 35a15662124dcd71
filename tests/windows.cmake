# Windows test programs, cross-built and run under Wine (or on Windows).
# Included from tests/CMakeLists.txt after the shared tests.

# The test camera library is what the app loads: softcam.dll. It also
# carries the registration entry points that regsvr32 calls.
set_target_properties(recording_camera incomplete_camera PROPERTIES OUTPUT_NAME softcam PREFIX "")
# Their import libraries would collide; nothing links them anyway.
set_target_properties(incomplete_camera PROPERTIES ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/incomplete)
target_sources(recording_camera PRIVATE camera_stub/com_registration_windows.cpp)
target_link_libraries(recording_camera PRIVATE advapi32)

# Media files, made on the build machine by the ffmpeg tool.
find_program(VIDLOOM_FFMPEG ffmpeg NO_CMAKE_FIND_ROOT_PATH)
find_program(VIDLOOM_SH sh NO_CMAKE_FIND_ROOT_PATH)
set(media_dir ${VIDLOOM_TEST_BIN}/media)
set(media_files quadrants.mp4 quadrants.avi quadrants.wmv quadrants.bmp quadrants.jpg palette.png alpha.png
  mono.bmp animated.gif large.png sender_clip.mp4)
list(TRANSFORM media_files PREPEND ${media_dir}/ OUTPUT_VARIABLE media_paths)
if(VIDLOOM_FFMPEG AND VIDLOOM_SH)
  add_custom_command(OUTPUT ${media_paths}
    COMMAND ${VIDLOOM_SH} ${CMAKE_CURRENT_SOURCE_DIR}/support/make_windows_media.sh ${VIDLOOM_FFMPEG} ${media_dir}
    DEPENDS support/make_windows_media.sh
    COMMENT "Making the Windows test media"
    VERBATIM)
  add_custom_target(windows_test_media ALL DEPENDS ${media_paths})
else()
  message(WARNING "ffmpeg or sh not found: the media tests are not built")
endif()

set(platform_services support/platform_services_windows.cpp)
if(TARGET windows_test_media)
  vidloom_gtest(video_decoder_mf_test SOURCES video_decoder_mf_test.cpp ${platform_services})
  vidloom_gtest(image_loader_wic_test SOURCES image_loader_wic_test.cpp ${platform_services}
    LIBS vidloom_imaging)
  add_dependencies(video_decoder_mf_test windows_test_media)
  add_dependencies(image_loader_wic_test windows_test_media)
  # The shared sender test streams a clip through the real decoder.
  target_sources(frame_sender_test PRIVATE ${platform_services})
  add_dependencies(frame_sender_test windows_test_media)
endif()

# Registration from a folder with a space in its name, beside a copy of the
# test camera library, and (the same program) from a folder without one.
set(spaced "camera folder")
vidloom_gtest(camera_registration_windows_test DIR ${spaced} SOURCES camera_registration_windows_test.cpp
  LIBS vidloom_registration)
add_custom_command(TARGET camera_registration_windows_test POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:recording_camera> "${VIDLOOM_TEST_BIN}/${spaced}/"
  VERBATIM)
vidloom_gtest(camera_registration_nolib_windows_test DIR nolib SOURCES camera_registration_windows_test.cpp
  LIBS vidloom_registration)
# Both change the same registry key.
set_tests_properties(camera_registration_windows_test camera_registration_nolib_windows_test
  PROPERTIES RESOURCE_LOCK camera_class_key)
