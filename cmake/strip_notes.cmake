# Sections that only tell which compiler built it.
execute_process(COMMAND "${CPACK_OBJCOPY_EXECUTABLE}" --remove-section=.comment
                        --remove-section=.note "${CPACK_TEMPORARY_DIRECTORY}/usr/bin/stampname"
                COMMAND_ERROR_IS_FATAL ANY)
