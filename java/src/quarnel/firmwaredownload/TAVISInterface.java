package quarnel.firmwaredownload;

/**
 * The device side of the library: binding, connect, login and the delivery of
 * device answers. The library calls the five static callbacks below; each
 * delegates to the installed {@link DeviceLine}, so a front end (or a test)
 * plugs in the line that frames the telegrams and talks to the device.
 */
public class TAVISInterface {
    static {
        // A host that links the library itself and registers these natives
        // sets this property, so no second copy is loaded.
        if (!Boolean.getBoolean("quarnel.firmwaredownload.nativesRegistered")) {
            System.loadLibrary("Korvo");
        }
    }

    /** What the library needs from the device line. Each result is ignored by the library. */
    public interface DeviceLine {
        int sendCommandMN(String method, byte[] parameters);
        int sendCommandRN(String variable);
        int sendCommandEN(String event, byte[] parameters);
        int updateStatus(String text, int percent);
        int cleanUpInterface();
    }

    private static volatile DeviceLine deviceLine;

    /** Installs the line the callbacks delegate to; null makes every callback report -1. */
    public static void setDeviceLine(DeviceLine line) {
        deviceLine = line;
    }

    public static DeviceLine getDeviceLine() {
        return deviceLine;
    }

    /** Records the callbacks and the connection texts; recreates the download executor. */
    public native void SetupJNI(String communicationName, String baudRate, String portName);

    /** The device identification; "" when no device answered. */
    public native String ConnectDeviceIF();

    /** 0 when the device granted the user level, -1 otherwise. */
    public native int LoginDeviceIF(String userLevel, String password);

    /** Delivers one device answer: kind ("AN", "RA", "EA", "FA"), name and answer bytes. */
    public native void ReceiveBytes(String kind, String name, byte[] answer);

    public static int SendCommandMN(String method, byte[] parameters) {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.sendCommandMN(method, parameters);
    }

    public static int SendCommandRN(String variable) {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.sendCommandRN(variable);
    }

    public static int SendCommandEN(String event, byte[] parameters) {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.sendCommandEN(event, parameters);
    }

    public static int UpdateStatus(String text, int percent) {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.updateStatus(text, percent);
    }

    public static int CleanUpInterface() {
        DeviceLine line = deviceLine;
        return line == null ? -1 : line.cleanUpInterface();
    }
}
