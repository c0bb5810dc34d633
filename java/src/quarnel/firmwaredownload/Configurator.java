package quarnel.firmwaredownload;

/** Edits project documents and builds download configuration files. */
public class Configurator {
    static {
        System.loadLibrary("Korvo");
    }

    public native int CreateConfigFileIF(String fileName);
    public native int OpenProjectDocumentIF(String fileName);
    public native int CloseProjectDocumentIF(boolean save);
    public native int SetProjectConfigFilenameEntryIF(String fileName);
    public native int SetProjectSystemEntryIF(String name, String value, boolean transparent);
    public native int AddProjectDeviceIF();
    public native int SetProjectDeviceConfigurationEntryIF(int device, String name, String value,
                                                           boolean transparent);
    public native int AddProjectDeviceConfigurationEntryIF(int device, String name, String value,
                                                           boolean transparent);
    public native int SetProjectDeviceConversionEntryAttributeIF(int device, String entry,
                                                                 String attribute, String value);
    public native int SetProjectDeviceConversionEntryIF(int device, String entry, String value);
}
