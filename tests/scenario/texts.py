"""Report texts of the catalogue that several scenario files look for (identifier in the comment)."""

PREPARE = "SNTP-Init: Bereite den Start des SNTP Dienstes vor."                  # 0x41000015
STARTED = "SNTP-Init: Initalisierung des SNTP Dienstes erfolgreich."             # 0x41000016
RUNNING = "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit."  # 0x41000017
ENDED = "SNTP-Shutdown: Der SNTP Dienst wurde beendet."                         # 0x41000018
STOP_DONE = "SNTP-Control: Die Anforderung zum Beenden des SNTP Dienstes wurde bearbeitet."  # 0x41000019
BROADCAST_CLIENT = "SNTP-Client: Der SNTP Clientdienst akzeptiert NTP Broadcasts."  # 0x41000029
ALREADY = "SNTP-Init: Der SNTP Dienst ist bereits aktiv."                        # 0x81000037
NO_ADAPTER = ("SNTP-Init: Es konnte keine Netzwerkkarte gefunden werden, die für die Benutzung "
              "mit dem SNTP Dienst verwendbar ist.")                             # 0xc100001a
