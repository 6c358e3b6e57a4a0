# The engine's window, managers and staged sample content, in process: the intro video's frames
# on the screen and its end, and a damaged image in the sample scene.
quill_add_tests(render/texture/engine LIBS quill_system ENGINE STAGED)
