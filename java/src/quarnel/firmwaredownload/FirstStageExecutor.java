package quarnel.firmwaredownload;

/** Runs a first-stage download for a device without application. */
public class FirstStageExecutor {
    static {
        System.loadLibrary("Korvo");
    }

    public static native ExeResponse ExecuteFirstStageDownloadIF(String configFileName);
}
