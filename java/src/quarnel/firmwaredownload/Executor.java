package quarnel.firmwaredownload;

/** Runs a firmware download from a configuration file and a key file. */
public class Executor {
    static {
        System.loadLibrary("Korvo");
    }

    public native ExeResponse ExecuteDownloadIF(String configFileName, String keyFileName,
                                                int deviceToSkip, int onlyDevice);
}
