/* A network camera for the tests on 127.0.0.1: an RTSP server (GStreamer's)
 * that sends a PNG image file as H.264 at 640 x 480 and 10 frames a second,
 * reading the file again for every frame, so a test changes the scene by
 * replacing it. It runs as a process of its own, so that a test can take it
 * away (kill) or freeze it (SIGSTOP) like a real camera.
 *
 *   rtsp_camera PORT IMAGE.png     serves rtsp://127.0.0.1:PORT/live and
 *                                  prints "ready" once it listens. */
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: rtsp_camera PORT IMAGE.png\n");
        return 2;
    }
    gst_init(&argc, &argv);
    GMainLoop *loop = g_main_loop_new(NULL, FALSE);
    GstRTSPServer *server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, "127.0.0.1");
    gst_rtsp_server_set_service(server, argv[1]);
    gchar *pipeline = g_strdup_printf(
        "( multifilesrc location=\"%s\" loop=true caps=image/png,framerate=10/1 ! pngdec ! videoconvert ! "
        "videoscale ! video/x-raw,width=640,height=480,format=I420 ! "
        "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=10 ! "
        "rtph264pay name=pay0 pt=96 config-interval=1 )",
        argv[2]);
    GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, pipeline);
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    g_free(pipeline);
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, "/live", factory);
    g_object_unref(mounts);
    if (gst_rtsp_server_attach(server, NULL) == 0) {
        fprintf(stderr, "rtsp_camera: cannot listen on port %s\n", argv[1]);
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    g_main_loop_run(loop);
    return 0;
}
