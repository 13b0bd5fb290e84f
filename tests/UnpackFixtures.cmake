# Unpacks every tests/fixtures/*.img.xz and *.mft.xz into DEST (skipping those already up to date) and copies
# the manifests beside them.
file(MAKE_DIRECTORY ${DEST})
# Bare $MFT files (*.mft.xz), copied off the volumes of the images, are unpacked the same way.
file(GLOB images ${SOURCE}/*.img.xz ${SOURCE}/*.mft.xz)
foreach(packed IN LISTS images)
    get_filename_component(name ${packed} NAME)
    string(REGEX REPLACE "\\.xz$" "" name ${name})
    if(NOT EXISTS ${DEST}/${name} OR ${packed} IS_NEWER_THAN ${DEST}/${name})
        execute_process(COMMAND xz -dc ${packed} OUTPUT_FILE ${DEST}/${name}.part RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "cannot unpack ${packed}")
        endif()
        file(RENAME ${DEST}/${name}.part ${DEST}/${name})
    endif()
endforeach()
file(GLOB tables ${SOURCE}/*.tsv)
file(COPY ${tables} DESTINATION ${DEST})
